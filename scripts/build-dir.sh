# Sourced by the scripts: the default build directory for a checkout.
# Tests and the demo mount a private tmpfs over /tmp, which would hide a
# build directory below /tmp, so a checkout under /tmp builds elsewhere.
zorvan_build_dir() {
  local root=$1
  case "$root/" in
    /tmp/*) echo "/var/tmp/zorvan-build-$(printf '%s' "$root" | md5sum | cut -c1-12)${2:-}" ;;
    *) echo "$root/build${2:-}" ;;
  esac
}
