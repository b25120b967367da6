# Sourced by the scripts: a private /tmp for a command, made as the test
# harness makes its own (tests/support/private_tmp.cpp): a mount namespace
# (for an ordinary user inside a user namespace of its own), / made
# private recursively, a fresh tmpfs of mode 1777 on /tmp.
#   zorvan_private_tmp_run CMD [ARGS...]   execs CMD with a private /tmp
#   zorvan_private_tmp_check               0 when one can be made here;
#       otherwise prints the underlying error and what to do about it on
#       one line (without a trailing newline) and returns 1.

zorvan_private_tmp_mounts='mount --make-rprivate / && mount -t tmpfs -o mode=1777 tmpfs /tmp'

zorvan_private_tmp_unshare() {
  if [ "$(id -u)" -eq 0 ]; then echo -m; else echo -rm; fi
}

zorvan_private_tmp_run() {
  # shellcheck disable=SC2016 # expanded by the inner shell
  exec unshare "$(zorvan_private_tmp_unshare)" \
    sh -c "$zorvan_private_tmp_mounts"' && exec "$0" "$@"' "$@"
}

# The root of the mount that holds /, as this process sees it: "/" for a
# system's own root or a container's, a directory below it for a chroot
# whose directory was bind-mounted onto itself, empty when / is no mount
# point at all (a plain chroot).
zorvan_root_mount_source() {
  awk '$5 == "/" { root = $4 } END { print root }' /proc/self/mountinfo 2>/dev/null
}

# Whether this process runs chrooted: its / is not the root of the
# system's first process (readable for root), or the mount holding / is
# none or a directory below another file system's root.
zorvan_in_chroot() {
  local own pid1
  own=$(stat -c %d:%i / 2>/dev/null)
  if pid1=$(stat -Lc %d:%i /proc/1/root/ 2>/dev/null); then
    [ "$own" != "$pid1" ]
  else
    [ "$(zorvan_root_mount_source)" != / ]
  fi
}

zorvan_private_tmp_check() {
  local error
  if [ ! -r /proc/self/mountinfo ]; then
    printf '%s' "no /proc here: mount it (mount -t proc proc /proc) and run again"
    return 1
  fi
  if error=$( (zorvan_private_tmp_run true) 2>&1 >/dev/null); then
    return 0
  fi
  error=$(printf '%s' "$error" | tr '\n' ' ' | sed 's/ *$//')
  printf '%s -- ' "${error:-unshare failed}"
  local max clone
  max=$(cat /proc/sys/user/max_user_namespaces 2>/dev/null || echo "")
  clone=$(cat /proc/sys/kernel/unprivileged_userns_clone 2>/dev/null || echo "")
  if [ "$(id -u)" -eq 0 ]; then
    if [ -z "$(zorvan_root_mount_source)" ]; then
      printf '%s' "this is a chroot whose / is no mount point; bind-mount its directory onto itself before entering it (mount --bind DIR DIR; chroot DIR), as scripts/buildroot.sh does, or run from outside it"
    elif ! grep -qE '^CapEff:.*' /proc/self/status ||
         [ $(( 0x$(awk '/^CapEff:/ { print $2 }' /proc/self/status) >> 21 & 1 )) -eq 0 ]; then
      printf '%s' "root lacks CAP_SYS_ADMIN here (a container without it); give the container that capability (docker/podman run --cap-add SYS_ADMIN), or run as an ordinary user where user namespaces are allowed"
    else
      printf '%s' "the system refuses root a mount namespace (a container's seccomp or security profile?); allow mount namespaces there, or run on the host"
    fi
  elif [ "$max" = 0 ]; then
    printf '%s' "user namespaces are disabled; as root: sysctl -w user.max_user_namespaces=15000, or run as root"
  elif [ "$clone" = 0 ]; then
    printf '%s' "unprivileged user namespaces are disabled; as root: sysctl -w kernel.unprivileged_userns_clone=1, or run as root"
  elif [ "$(cat /proc/sys/kernel/apparmor_restrict_unprivileged_userns 2>/dev/null)" = 1 ]; then
    printf '%s' "AppArmor restricts unprivileged user namespaces; as root: sysctl -w kernel.apparmor_restrict_unprivileged_userns=0, or run as root"
  elif zorvan_in_chroot; then
    printf '%s' "this is a chroot, where the kernel refuses ordinary users a user namespace; run as root in it (its directory bind-mounted onto itself), or from outside it"
  else
    printf '%s' "the system refuses an ordinary user a user namespace (a container's seccomp profile?); run as root, or allow user namespaces in the container"
  fi
  return 1
}
