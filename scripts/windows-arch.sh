#!/usr/bin/env bash
# Sourced by the bootstrap, run and test scripts: which architectures of the
# Windows half this host builds and runs. The shipped images are i686; the
# x86_64 twin is for hosts whose kernel runs no 32-bit code (no Wine mode
# can run 32-bit Windows code there) and is never shipped.

# True when the kernel executes a 32-bit x86 program: a 96-byte static
# i386 ELF that only exits with status 42.
host_runs_i386() {
  local elf rc
  elf=$(mktemp) || return 1
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$elf"
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$elf"
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$elf"
  printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$elf"
  printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000' >>"$elf"
  printf '\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >>"$elf"
  chmod +x "$elf"
  "$elf" 2>/dev/null
  rc=$?
  rm -f "$elf"
  [ "$rc" -eq 42 ]
}

# Sets WINDOWS_ARCHES (i686, x86_64 or both, in that order) from
# VANTEL_WINDOWS_ARCH, or from what the host runs; WINDOWS_ARCH_WHY says why.
windows_arches() {
  local runs32=1
  host_runs_i386 || runs32=0
  case "${VANTEL_WINDOWS_ARCH:-}" in
    "")
      if [ "$runs32" -eq 1 ]; then
        WINDOWS_ARCHES=(i686) WINDOWS_ARCH_WHY=""
      else
        WINDOWS_ARCHES=(x86_64) WINDOWS_ARCH_WHY="this host runs no 32-bit code"
      fi ;;
    i686|both)
      if [ "$runs32" -eq 0 ]; then
        echo "VANTEL_WINDOWS_ARCH=$VANTEL_WINDOWS_ARCH: this host runs no 32-bit code; use x86_64" >&2
        return 1
      fi
      WINDOWS_ARCHES=(i686) WINDOWS_ARCH_WHY="VANTEL_WINDOWS_ARCH=$VANTEL_WINDOWS_ARCH"
      [ "$VANTEL_WINDOWS_ARCH" = both ] && WINDOWS_ARCHES+=(x86_64) ;;
    x86_64)
      WINDOWS_ARCHES=(x86_64) WINDOWS_ARCH_WHY="VANTEL_WINDOWS_ARCH=x86_64" ;;
    *)
      echo "VANTEL_WINDOWS_ARCH must be i686, x86_64 or both, not '$VANTEL_WINDOWS_ARCH'" >&2
      return 1 ;;
  esac
}

# The label the test output gives an architecture's suite.
windows_arch_label() {
  if [ "$1" = i686 ]; then echo "i686"; else echo "x86_64 twin"; fi
}
