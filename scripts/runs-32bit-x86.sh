#!/usr/bin/env bash
# Exits 0 when this machine's kernel runs 32-bit x86 programs (which 32-bit Wine needs), 1 when
# it does not: some virtual machines' kernels are built without that support. Asks the kernel
# itself, with the smallest such program (one load segment whose code is exit(0)), so that nothing
# needs to be installed to know.
set -u
program=$(mktemp)
trap 'rm -f "$program"' EXIT
# ELF header (52 bytes), one program header (32 bytes), then: xor ebx,ebx; xor eax,eax; inc eax;
# int 0x80.
printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00' \
  '\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
  '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
  '\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
  '\x31\xdb\x31\xc0\x40\xcd\x80' >"$program"
chmod +x "$program"
"$program" 2>/dev/null || exit 1
