# The shared data folder of the scale test (sourced; expects $work):
# a GlusterFS volume, replica 2 with both bricks on this machine, mounted
# once per server as if each ran on a machine of its own (FUSE caches are
# per mount). Without root, /dev/fuse or the gluster programs, or when the
# volume cannot be made, one local folder stands in, with a note.
#
# glusterd refuses bricks on loopback addresses (127.x), so a private /32
# is put on lo for the run (and taken off again if this run added it):
# 10.97.213.61 by default, from the private 10.0.0.0/8 and unlikely to be
# a real network's; VXHOST_SCALE_ADDR names another.

gluster_addr="${VXHOST_SCALE_ADDR:-10.97.213.61}"
# Unique per run: with the machine's own glusterd the volume's state lives
# in its /var/lib/glusterd beside whatever else is there.
volume="vxscale$$"
added_addr=0
own_glusterd=""
volume_made=0
mounts=()
gl=(gluster --mode=script)

# shared_folder_up <name>...: sets $data_of[name] to each server's view of
# the one folder and $shared_kind to "GlusterFS" or "local".
declare -A data_of
shared_folder_up() {
  local why="" tool name
  if [ "$(id -u)" != 0 ]; then
    why="not running as root"
  elif [ ! -c /dev/fuse ]; then
    why="no /dev/fuse"
  else
    for tool in glusterd gluster mount.glusterfs ip; do
      command -v "$tool" >/dev/null || why="no $tool (Debian: glusterfs-server, glusterfs-client, iproute2)"
    done
  fi
  if [ -z "$why" ] && gluster_up "$@"; then
    shared_kind=GlusterFS
    return 0
  fi
  echo "NOTE: a local folder stands in for the shared volume: $why"
  shared_kind=local
  mkdir -p "$work/data"
  for name in "$@"; do data_of[$name]="$work/data"; done
}

# Sets $why and returns 1 when a step fails; shared_folder_down undoes
# whatever was done.
gluster_up() {
  local i name
  # Not "ip | grep -q": grep leaving early would fail the pipeline.
  if ! grep -q " inet $gluster_addr/" <<<"$(ip -o addr show)"; then
    ip addr add "$gluster_addr/32" dev lo 2>"$work/ip.err" || { why="ip addr add: $(cat "$work/ip.err")"; return 1; }
    added_addr=1
  fi
  if ! "${gl[@]}" volume list >/dev/null 2>&1; then
    # No glusterd here yet: one of this run's own, its state in the work
    # folder. It reads the interfaces at start, so it comes after the
    # address. It keeps the usual port 24007: bricks and mounts look there.
    [ -f /etc/glusterfs/glusterd.vol ] || { why="no /etc/glusterfs/glusterd.vol"; return 1; }
    mkdir -p "$work/glusterd/state" "$work/glusterd/run"
    sed -e "s|^\( *option working-directory\) .*|\1 $work/glusterd/state|" \
        -e "s|^end-volume|    option glusterd-sockfile $work/glusterd/run/cli.socket\nend-volume|" \
        /etc/glusterfs/glusterd.vol >"$work/glusterd/glusterd.vol"
    glusterd --no-daemon -f "$work/glusterd/glusterd.vol" -p "$work/glusterd/pid" \
      -l "$work/glusterd/glusterd.log" &
    own_glusterd=$!
    gl=(gluster --mode=script "--glusterd-sock=$work/glusterd/run/cli.socket")
    # Ready when it answers (bounded; stops early when it is gone).
    for ((i = 0; i < 300; i++)); do
      "${gl[@]}" volume list >/dev/null 2>&1 && break
      kill -0 "$own_glusterd" 2>/dev/null || break
      sleep 0.1
    done
  fi
  "${gl[@]}" volume create "$volume" replica 2 "$gluster_addr:$work/brick1" "$gluster_addr:$work/brick2" force \
    >"$work/gluster.out" 2>&1 || { why="volume create: $(cat "$work/gluster.out")"; return 1; }
  volume_made=1
  "${gl[@]}" volume start "$volume" >"$work/gluster.out" 2>&1 || { why="volume start: $(cat "$work/gluster.out")"; return 1; }
  for name in "$@"; do
    mkdir -p "$work/mnt-$name"
    # The options docs/deploy.md gives: no kernel caching of attributes and
    # names, so a file another machine appended to or created is seen at
    # once.
    mount -t glusterfs -o "attribute-timeout=0,entry-timeout=0,negative-timeout=0,log-file=$work/mount-$name.log" \
      "$gluster_addr:/$volume" "$work/mnt-$name" 2>"$work/mount.err" || { why="mount: $(cat "$work/mount.err")"; return 1; }
    mounts+=("$work/mnt-$name")
    data_of[$name]="$work/mnt-$name"
  done
}

shared_folder_down() {
  local m
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" || true; done
  if [ "$volume_made" = 1 ]; then
    # The bricks and the self-heal daemon leave their sockets behind.
    local sockets
    sockets="$(pgrep -af -- "--volfile-id (shd/)?$volume[./ ]" | grep -o -- '-S /var/run/gluster/[0-9a-f]*\.socket' |
      cut -d' ' -f2 || true)"
    "${gl[@]}" volume stop "$volume" force >/dev/null 2>&1 || true
    rm -f $sockets
    "${gl[@]}" volume delete "$volume" >/dev/null 2>&1 || true
    rmdir "/var/run/gluster/vols/$volume" "/var/run/gluster/shd/$volume" 2>/dev/null || true
    # The bricks' logs are named after their paths.
    rm -f "/var/log/glusterfs/bricks/$(tr / - <<<"${work#/}")"-brick*.log
  fi
  if [ -n "$own_glusterd" ]; then
    kill "$own_glusterd" 2>/dev/null || true
    wait "$own_glusterd" 2>/dev/null || true
  fi
  if [ "$added_addr" = 1 ]; then ip addr del "$gluster_addr/32" dev lo || true; fi
}
