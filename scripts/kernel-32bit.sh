# Sourced by setup.sh and test.sh: whether this machine's kernel can execute
# 32-bit x86 programs at all. Some kernels of this machine kind cannot, and
# then neither the 32-bit Wine loader nor any 32-bit Windows program can run,
# whatever is installed. Needs nothing installed, so set-up can ask before it
# chooses its packages.

# A 93-byte static 32-bit Linux program that only exits with 42: ELF header,
# one loadable segment at 0x08048000, then xor ebx,ebx; mov bl,42;
# xor eax,eax; inc eax; int 0x80 (exit). Written by hand because no 32-bit
# toolchain for Linux need be installed.
kernel_32bit_write_check() {
    printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0' >"$1"
    printf '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0' >>"$1"
    printf '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80' >>"$1"
    chmod +x "$1"
}

# kernel_runs_32bit DIR [PROGRAM]: writes the check program into DIR and runs
# it (or runs PROGRAM instead, a stand-in for the tests). Returns 0 when it
# exits with 42; otherwise sets kernel_32bit_problem to why.
kernel_runs_32bit() {
    local check=${2:-$1/elf32-check} out rc=0
    kernel_32bit_problem=
    if [ -z "${2:-}" ]; then
        mkdir -p "$1"
        kernel_32bit_write_check "$check"
    fi
    out=$("$check" 2>&1 </dev/null) || rc=$?
    [ "$rc" -eq 42 ] && return 0
    out=$(printf '%s\n' "$out" | head -n 1)
    kernel_32bit_problem="this machine's kernel cannot run 32-bit programs (${out:+${out##*: }, }exit code $rc)"
    return 1
}
