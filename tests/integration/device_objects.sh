# Sourced by the device tests: the prefix of a device's named kernel objects in /dev/shm (trace
# memory, mutex, event), an FNV-1a hash of the device root's real path. Killed programs leave
# them behind.
object_prefix() {
  local path hash=$((0xcbf29ce484222325)) i byte
  path=$(realpath "$1")
  for ((i = 0; i < ${#path}; i++)); do
    printf -v byte '%d' "'${path:i:1}"
    hash=$(((hash ^ byte) * 0x100000001b3))
  done
  printf 'quillon-%016x\n' "$hash"
}
