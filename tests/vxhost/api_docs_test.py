#!/usr/bin/env python3
"""Runs the curl examples of the "## API" section of docs/server.md against
a live server and checks each answer against what the section says of it:
    api_docs_test.py <vxhost binary> <docs/server.md>
Each ```sh block is run by bash with VX, TOKEN, KEY and ID set (KEY: the
first document of the first answer listing documents; ID: the "id" of the
first answer that has one), in a folder holding the
files its `file=@NAME` fields name. The text after it says `answers `NNN``,
and the ```json block after that is the answer's shape: the same keys, the
same JSON types (null in either stands for any value), every element of a
list like the first one shown. Python's json module is the parser, not the
server's."""
import json
import os
import re
import subprocess
import sys
import tempfile


def examples(markdown):
    section = re.search(r"^## API\n(.*?)(?=^## |\Z)", markdown, re.S | re.M).group(1)
    blocks = list(re.finditer(r"^```sh\n(.*?)^```\n", section, re.S | re.M))
    for i, b in enumerate(blocks):
        tail = section[b.end():blocks[i + 1].start() if i + 1 < len(blocks) else len(section)]
        status = re.search(r"answers `(\d{3})`", tail)
        shape = re.search(r"^```json\n(.*?)^```\n", tail, re.S | re.M)
        yield b.group(1), int(status.group(1)) if status else None, json.loads(shape.group(1)) if shape else None


def misfits(answer, shape, where="answer"):
    """Where answer does not have shape's form; [] when it does."""
    if answer is None or shape is None:
        return []
    if isinstance(shape, dict):
        if not isinstance(answer, dict):
            return [f"{where}: an object expected"]
        if sorted(answer) != sorted(shape):
            return [f"{where}: keys {sorted(answer)} instead of {sorted(shape)}"]
        return [m for k in shape for m in misfits(answer[k], shape[k], f"{where}.{k}")]
    if isinstance(shape, list):
        if not isinstance(answer, list) or (shape and not answer):
            return [f"{where}: a list with elements expected"]
        return [m for i, a in enumerate(answer) for m in misfits(a, shape[0], f"{where}[{i}]")] if shape else []
    kind = lambda v: "bool" if isinstance(v, bool) else type(v).__name__
    return [] if kind(answer) == kind(shape) else [f"{where}: {kind(answer)} instead of {kind(shape)}"]


def main():
    vxhost, doc = sys.argv[1], sys.argv[2]
    with open(doc, encoding="utf-8") as f:
        cases = list(examples(f.read()))
    work = tempfile.mkdtemp()
    data = os.path.join(work, "data")
    subprocess.run([vxhost, "user", "add", "alice", "--data", data], input=b"alice-password\n", check=True,
                   stdout=subprocess.DEVNULL)
    token = subprocess.run([vxhost, "token", "add", "alice", "--data", data], check=True,
                           capture_output=True, text=True).stdout.strip()
    server = subprocess.Popen([vxhost, "serve", "--listen", "127.0.0.1:0", "--data", data], stdout=subprocess.PIPE,
                              text=True)
    failures = []
    try:
        url = re.match(r"listening on (http://\S+)/$", server.stdout.readline()).group(1)
        env = dict(os.environ, VX=url, TOKEN=token, KEY="", ID="")
        if not cases:
            failures.append("no ```sh examples under ## API")
        for script, status, shape in cases:
            for name in re.findall(r"file=@([\w.-]+)", script):
                with open(os.path.join(work, name), "w") as f:
                    f.write(f"{name}: a quarterly report\n1,2,3\n")
            heads = os.path.join(work, "heads")
            # curl's own headers file tells the status without changing the example.
            run = subprocess.run(["bash", "-c", 'curl() { command curl -D "$HEADS" "$@"; }\n' + script],
                                 cwd=work, env=dict(env, HEADS=heads), capture_output=True, text=True)
            with open(heads) as f:
                head = f.read()
            got = int(re.findall(r"^HTTP/\S+ (\d{3})", head, re.M)[-1])
            said = f"{script.strip()}\n"
            if status is None or got != status:
                failures.append(f"{said}  status {got}, the section says {status}")
            if not re.search(r"^Content-Type: application/json\r?$", head, re.M | re.I):
                failures.append(f"{said}  not application/json:\n{head}")
            try:
                answer = json.loads(run.stdout)
            except ValueError:
                failures.append(f"{said}  not JSON: {run.stdout!r}")
                continue
            failures += [f"{said}  {m}" for m in misfits(answer, shape)]
            if not env["KEY"] and isinstance(answer, dict) and answer.get("docs"):
                env["KEY"] = answer["docs"][0]["key"]
            if not env["ID"] and isinstance(answer, dict) and "id" in answer:
                env["ID"] = answer["id"]
    finally:
        server.terminate()
        server.wait()
        subprocess.run(["rm", "-rf", work])
    for f in failures:
        print("FAILED:", f)
    print(f"{len(cases)} examples, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
