// Uploading from the list page with a progress bar per file: the panel
// below the upload form and its script /static/upload.js. The panel is
// hidden until the script shows it, so without script the form posts as
// it always did. The script sends each file as a request of its own to
// POST /upload (the same form fields), so that each has its own progress,
// cancel and answer, and then swaps a fresh copy of the list into the page.
#include <string>

#include "serve_app.h"

namespace serve {

namespace {

// The panel's texts, handed to the script through data attributes so that
// the page, not the script, says them.
const char kUploadsLabel[] = "uploads";
const char kDropText[] = "Drop files anywhere on this page, or choose them here";
const char kCancelText[] = "cancel";
const char kCancelledText[] = "cancelled";
const char kDoneText[] = "stored";
const char kFailedText[] = "The upload failed: the server did not answer.";

// Files wait in a queue and at most this many go at once, so that a drop
// of hundreds of files stays under the server's per-address limits.
const char kUploadScript[] =
    "(function () {\n"
    "  'use strict';\n"
    "  const panel = document.getElementById('uploads');\n"
    "  const form = document.getElementById('upload');\n"
    "  if (!panel || !form) return;\n"
    "  const text = panel.dataset;\n"
    "  const list = panel.querySelector('ul');\n"
    "  const chooser = panel.querySelector('input[type=file]');\n"
    "  const atOnce = 3;\n"
    "  const waiting = [];\n"
    "  let running = 0, pending = 0;\n"
    "  panel.hidden = false;\n"
    "\n"
    "  // The list as the page's view (sort, page, search) shows it now, in\n"
    "  // place of the old one; the page itself stays.\n"
    "  async function refresh() {\n"
    "    const r = await fetch('/' + location.search, {cache: 'no-store'});\n"
    "    if (r.redirected) { location.assign(r.url); return; }\n"
    "    if (!r.ok) return;\n"
    "    const fresh = new DOMParser().parseFromString(await r.text(), 'text/html');\n"
    "    for (const sel of ['#docs', '#empty', 'nav.pages']) {\n"
    "      const old = document.querySelector(sel), now = fresh.querySelector(sel);\n"
    "      if (old && now) old.replaceWith(now);\n"
    "      else if (old) old.remove();\n"
    "      else if (now) document.getElementById('docs').after(now);\n"
    "    }\n"
    "    // The new rows' times are in UTC: the time script once more.\n"
    "    const times = document.createElement('script');\n"
    "    times.src = '/static/time.js';\n"
    "    times.addEventListener('load', () => times.remove());\n"
    "    document.body.append(times);\n"
    "  }\n"
    "\n"
    "  function pump() {\n"
    "    while (running < atOnce && waiting.length) { running++; waiting.shift()(); }\n"
    "  }\n"
    "\n"
    "  // The message of the server's error page, else its status.\n"
    "  function reason(xhr) {\n"
    "    const error = xhr.responseXML && xhr.responseXML.querySelector('p.error');\n"
    "    return error ? error.textContent : xhr.status + ' ' + xhr.statusText;\n"
    "  }\n"
    "\n"
    "  function upload(file) {\n"
    "    const item = document.createElement('li');\n"
    "    const label = document.createElement('label');\n"
    "    const bar = document.createElement('progress');\n"
    "    const cancel = document.createElement('button');\n"
    "    const state = document.createElement('span');\n"
    "    bar.max = 100;\n"
    "    bar.value = 0;\n"
    "    label.append(file.name + ' ', bar);\n"
    "    cancel.type = 'button';\n"
    "    cancel.textContent = text.cancel;\n"
    "    cancel.setAttribute('aria-label', text.cancel + ' ' + file.name);\n"
    "    state.className = 'state';\n"
    "    item.append(label, ' ', cancel, ' ', state);\n"
    "    list.append(item);\n"
    "    pending++;\n"
    "    const note = form.elements.note.value, csrf = form.elements.csrf.value;\n"
    "    let xhr = null;\n"
    "    const settle = (message, failed) => {\n"
    "      cancel.remove();\n"
    "      state.textContent = message;\n"
    "      item.classList.toggle('failed', failed);\n"
    "      if (xhr) { running--; pump(); }\n"
    "      if (--pending === 0) refresh();\n"
    "    };\n"
    "    const start = () => {\n"
    "      const body = new FormData();\n"
    "      body.append('csrf', csrf);\n"
    "      body.append('note', note);\n"
    "      body.append('file', file, file.name);\n"
    "      xhr = new XMLHttpRequest();\n"
    "      xhr.open('POST', '/upload');\n"
    "      xhr.responseType = 'document';\n"
    "      xhr.upload.addEventListener('progress', (e) => {\n"
    "        if (!e.lengthComputable) return;\n"
    "        bar.value = e.total ? 100 * e.loaded / e.total : 100;\n"
    "        const now = Math.floor(bar.value / 10) * 10 + ' %';\n"
    "        if (state.textContent !== now) state.textContent = now;\n"
    "      });\n"
    "      xhr.addEventListener('load', () => {\n"
    "        // A stored upload is sent on to the list; a lost session to the login.\n"
    "        const to = new URL(xhr.responseURL);\n"
    "        if (xhr.status < 400 && to.pathname !== '/') { location.assign(to); return; }\n"
    "        settle(xhr.status < 400 ? text.done : reason(xhr), xhr.status >= 400);\n"
    "      });\n"
    "      xhr.addEventListener('error', () => settle(text.failed, true));\n"
    "      xhr.addEventListener('abort', () => settle(text.cancelled, true));\n"
    "      xhr.send(body);\n"
    "    };\n"
    "    cancel.addEventListener('click', () => {\n"
    "      if (xhr) return xhr.abort();\n"
    "      waiting.splice(waiting.indexOf(start), 1);\n"
    "      settle(text.cancelled, true);\n"
    "    });\n"
    "    waiting.push(start);\n"
    "    pump();\n"
    "  }\n"
    "\n"
    "  const uploadAll = (files) => Array.from(files).forEach(upload);\n"
    "  form.addEventListener('submit', (e) => {\n"
    "    const chosen = form.elements.file;\n"
    "    if (!chosen.files.length) return;  // the server says what is missing\n"
    "    e.preventDefault();\n"
    "    uploadAll(chosen.files);\n"
    "    chosen.value = '';\n"
    "  });\n"
    "  document.getElementById('drop').addEventListener('click', () => chooser.click());\n"
    "  chooser.addEventListener('change', () => { uploadAll(chooser.files); chooser.value = ''; });\n"
    "\n"
    "  // The whole page takes dropped files.\n"
    "  const hasFiles = (e) => e.dataTransfer && Array.from(e.dataTransfer.types).includes('Files');\n"
    "  for (const name of ['dragenter', 'dragover']) {\n"
    "    document.addEventListener(name, (e) => {\n"
    "      if (!hasFiles(e)) return;\n"
    "      e.preventDefault();\n"
    "      e.dataTransfer.dropEffect = 'copy';\n"
    "      document.body.classList.add('dragging');\n"
    "    });\n"
    "  }\n"
    "  document.addEventListener('dragleave', (e) => {\n"
    "    if (!e.relatedTarget) document.body.classList.remove('dragging');\n"
    "  });\n"
    "  document.addEventListener('drop', (e) => {\n"
    "    document.body.classList.remove('dragging');\n"
    "    if (!hasFiles(e)) return;\n"
    "    e.preventDefault();\n"
    "    uploadAll(e.dataTransfer.files);\n"
    "  });\n"
    "})();\n";

}  // namespace

std::string UploadPanel() {
  return "<section id=\"uploads\" aria-label=\"" + HtmlEscape(kUploadsLabel) + "\" data-cancel=\"" +
         HtmlEscape(kCancelText) + "\" data-cancelled=\"" + HtmlEscape(kCancelledText) + "\" data-done=\"" +
         HtmlEscape(kDoneText) + "\" data-failed=\"" + HtmlEscape(kFailedText) + "\" hidden>\n" +
         "<button type=\"button\" id=\"drop\">" + HtmlEscape(kDropText) + "</button>\n" +
         "<input type=\"file\" multiple hidden aria-label=\"" + HtmlEscape(kDropText) + "\">\n" +
         "<ul aria-live=\"polite\"></ul>\n</section>\n<script src=\"/static/upload.js\" defer></script>\n";
}

const char* UploadScript() { return kUploadScript; }

}  // namespace serve
