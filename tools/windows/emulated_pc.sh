#!/usr/bin/env bash
# Runs the 32-bit Windows release on an emulated 32-bit PC (qemu-system-i386, TCG), for machines
# that cannot execute 32-bit x86 code themselves:
#
#   tools/windows/emulated_pc.sh <release.exe> <results-dir>
#
# The PC boots an i386 Debian bookworm with 32-bit Wine, and tools/windows/emulated_guest.sh as its
# init runs the release in three game folders and powers off. <results-dir> (emptied first) then
# holds what the guest wrote (see emulated_guest.sh) and console.log, the PC's serial console.
# Exit status 0: the guest got to its end and wrote its results; they are not judged here.
#
# The guest's file system is built once, in about 5 minutes, into
# ${KILN_WINDOWS_CACHE:-/var/cache/kiln-windows}/pc-i386/tree (complete when tree.complete holds
# the revision below); its Wine prefix is booted by the first emulated run and saved back into it.
# Each run copies the tree into a fresh ext4 image under ${TMPDIR:-/tmp}, so runs never change it.
# Environment: KILN_PC_LIMIT (seconds the PC may run, default 900), KILN_PC_MIRROR (Debian mirror,
# default the machine's own), KILN_PC_CPU (qemu's -cpu), KILN_PC_APPEND (more kernel command line;
# its NAME=value words reach the guest's init, and so Wine, as environment).
set -euo pipefail

if [[ $# -ne 2 || ! -f $1 ]]; then
  echo "usage: $0 <release.exe> <results-dir>" >&2
  exit 2
fi
release=$(realpath "$1")
results=$2
guest_script=$(cd "$(dirname "$0")" && pwd)/emulated_guest.sh
cache=${KILN_WINDOWS_CACHE:-/var/cache/kiln-windows}/pc-i386
tree=$cache/tree
limit=${KILN_PC_LIMIT:-900}
# SMAP off: with it, a user-mode iret faults in the guest kernel (Wine's context switch). AVX off:
# llvmpipe's AVX code under TCG crashed the patcher.
cpu=${KILN_PC_CPU:-max,-smap,-smep,-avx,-avx2,-fma,-f16c}
# Bump when the recipe in build_tree changes, so that cached trees are rebuilt.
tree_revision=1
start=$SECONDS
trap 'exit 130' INT TERM HUP
say() { echo "emulated PC: $*"; }
fail() { echo "emulated PC: $*" >&2; exit 1; }

# --- Host tools ----------------------------------------------------------------------------------
host_packages=(debootstrap qemu-system-x86 qemu-user-static e2fsprogs)
missing=0
for tool in debootstrap qemu-system-i386 qemu-i386-static mke2fs debugfs; do
  command -v "$tool" >/dev/null || missing=1
done
if [[ $missing -eq 1 ]]; then
  [[ $(id -u) -eq 0 ]] ||
    fail "missing tools; run as root: apt-get install --no-install-recommends ${host_packages[*]}"
  say "installing ${host_packages[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends \
    "${host_packages[@]}" >/dev/null || fail "apt-get install ${host_packages[*]} failed"
fi
[[ $(id -u) -eq 0 ]] || fail "building and booting the guest needs root (debootstrap, chroot)"

# --- The cached tree -----------------------------------------------------------------------------
# The machine's own Debian mirror (the first non-security one in its apt sources).
mirror=${KILN_PC_MIRROR:-$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
  2>/dev/null | grep -Eo '^(deb|URIs:) +\S+' | awk '{print $2}' | grep -v security | grep -m1 '/debian' || true)}
mirror=${mirror:-http://deb.debian.org/debian}

# Lazily unmounts whatever is mounted below the tree (also what a killed debootstrap left).
unmount_tree() {
  awk -v t="$tree/" 'index($2, t) == 1 {print $2}' /proc/self/mounts | sort -r | xargs -r -n1 umount -l
}

# The tree's package scripts are i386 ELF programs: the kernel hands them to user-mode qemu
# (flag F: the interpreter is opened now, so it need not exist inside the chroot).
register_qemu_i386() {
  local binfmt=/proc/sys/fs/binfmt_misc
  mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [[ ! -e $binfmt/kiln-i386 ]]; then
    printf '%s\n' ':kiln-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register"
  fi
  echo 1 >"$binfmt/kiln-i386"
}

in_tree() {
  DEBIAN_FRONTEND=noninteractive LC_ALL=C PATH=/usr/sbin:/usr/bin:/sbin:/bin timeout 3600 chroot "$tree" "$@"
}

build_tree() {
  local log=$cache/tree.log
  unmount_tree
  rm -rf --one-file-system "$tree" "$cache/tree.complete"
  register_qemu_i386
  say "building the guest's file system in $tree (about 5 minutes; log: $log)"
  timeout 1800 debootstrap --arch=i386 --variant=minbase bookworm "$tree" "$mirror" >"$log" 2>&1 ||
    { tail -20 "$log" >&2; fail "debootstrap failed (log: $log)"; }
  say "debootstrap done ($((SECONDS - start)) s)"
  (
    trap unmount_tree EXIT
    trap 'exit 130' INT TERM HUP
    mount -t proc proc "$tree/proc"
    mount --bind /dev "$tree/dev"
    printf '#!/bin/sh\nexit 101\n' >"$tree/usr/sbin/policy-rc.d"
    chmod 755 "$tree/usr/sbin/policy-rc.d"
    in_tree apt-get update -q
    in_tree apt-get install -y -q --no-install-recommends \
      wine wine32 libgl1-mesa-dri libglx-mesa0 xvfb xdotool x11-apps initramfs-tools
    # The default initramfs takes every storage driver, which takes many minutes under user-mode
    # qemu; the PC needs only its virtio disk and ext4.
    sed -i 's/^MODULES=.*/MODULES=list/' "$tree/etc/initramfs-tools/initramfs.conf"
    printf '%s\n' virtio_pci virtio_blk ext4 >>"$tree/etc/initramfs-tools/modules"
    in_tree apt-get install -y -q --no-install-recommends linux-image-686
    in_tree apt-get clean
    rm -rf "$tree"/var/lib/apt/lists/*
  ) >>"$log" 2>&1 || { tail -20 "$log" >&2; fail "installing the guest's packages failed (log: $log)"; }
  echo "$tree_revision" >"$cache/tree.complete"
  say "guest file system built in $((SECONDS - start)) s ($(du -sm "$tree" | cut -f1) MB)"
}

mkdir -p "$cache"
exec 9>"$cache/lock"
flock -w 3600 9 || fail "the cache $cache stayed locked for an hour"
tree_state="tree reused"
if [[ $(cat "$cache/tree.complete" 2>/dev/null) != "$tree_revision" ]]; then
  build_tree
  tree_state="tree built"
fi
flock -s 9  # other runs may copy the tree too; only building and saving the prefix exclude them

# --- One run -------------------------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/kiln-pc.XXXXXX")
trap 'rm -rf "$work"' EXIT
image=$work/disk.img
kernel=$(find "$tree/boot" -name "vmlinuz-*" 2>/dev/null | sort -V | tail -1 || true)
initrd=$(find "$tree/boot" -name "initrd.img-*" 2>/dev/null | sort -V | tail -1 || true)
[[ -n $kernel && -n $initrd ]] || fail "no kernel or initrd in $tree/boot (remove $cache/tree.complete to rebuild)"
if [[ -f $tree/opt/kiln/prefix/.kiln-booted ]]; then prefix_state="booted prefix"; else prefix_state="no prefix yet"; fi

# Room for the results, and for a first boot's prefix and its copy (about 600 MB each).
size_mb=$(($(du -sm "$tree" | cut -f1) + 2048))
mke2fs -q -t ext4 -O ^has_journal -L kiln-pc -d "$tree" "$image" "${size_mb}M" >/dev/null ||
  fail "mke2fs of $image failed"
flock -u 9
cp "$release" "$work/ZuntoPatcher.exe"
cp "$guest_script" "$work/guest.sh"
chmod 755 "$work/guest.sh"
printf '%s\n' "mkdir /kiln" "write $work/ZuntoPatcher.exe /kiln/ZuntoPatcher.exe" \
  "write $work/guest.sh /kiln/guest.sh" | debugfs -w -f - "$image" >"$work/debugfs.log" 2>&1
debugfs -R "stat /kiln/guest.sh" "$image" 2>/dev/null | grep -q 'Mode:  0755' ||
  { cat "$work/debugfs.log" >&2; fail "could not write the release and the guest script into $image"; }
say "image ready ($((SECONDS - start)) s, $tree_state, $prefix_state)"

mkdir -p "$results"
find "$results" -mindepth 1 -delete
console=$(realpath "$results")/console.log
say "booting (at most $limit s; console log: $console)"
boot_start=$SECONDS
status=0
timeout -k 10 "$limit" qemu-system-i386 -accel tcg,thread=multi -cpu "$cpu" \
  -smp 2 -m 3000 -kernel "$kernel" -initrd "$initrd" \
  -append "root=/dev/vda rw console=ttyS0 panic=1 init=/kiln/guest.sh ${KILN_PC_APPEND:-}" \
  -drive "file=$image,format=raw,if=virtio" -nic none -display none -monitor none \
  -serial "file:$console" -no-reboot </dev/null >"$work/qemu.log" 2>&1 || status=$?
elapsed=$((SECONDS - boot_start))
if [[ $status -eq 124 || $status -eq 137 ]]; then
  tail -5 "$console" >&2
  fail "the PC did not power off within $limit s (console log: $console)"
elif [[ $status -ne 0 ]]; then
  cat "$work/qemu.log" >&2
  fail "qemu-system-i386 failed with status $status (console log: $console)"
fi
say "booted and ran in $elapsed s"

# A first run boots the Wine prefix and leaves a copy of it in /kiln/prefix-booted: keep it in the
# tree, complete or not at all (the rename is the last step), for the next runs.
if debugfs -R "stat /kiln/prefix-booted/.kiln-booted" "$image" 2>/dev/null | grep -q '^Inode:'; then
  flock -w 3600 9 || fail "the cache $cache stayed locked for an hour"
  rm -rf "$cache/prefix.part"
  mkdir -p "$cache/prefix.part" "$tree/opt/kiln"
  if debugfs -R "rdump /kiln/prefix-booted $cache/prefix.part" "$image" >"$work/rdump-prefix.log" 2>&1 &&
     [[ -f $cache/prefix.part/prefix-booted/.kiln-booted ]]; then
    rm -rf "$tree/opt/kiln/prefix"
    mv "$cache/prefix.part/prefix-booted" "$tree/opt/kiln/prefix"
    say "saved the booted Wine prefix into the cached tree"
  else
    echo "emulated PC: could not save the booted Wine prefix (the next run boots it again)" >&2
  fi
  rm -rf "$cache/prefix.part"
  flock -u 9
fi
debugfs -R "rdump /kiln/results $work" "$image" >"$work/rdump.log" 2>&1 || true
if [[ -d $work/results ]]; then
  cp -a "$work/results/." "$results/"
fi
if [[ ! -f $results/finished ]]; then
  tail -5 "$console" >&2
  fail "the guest did not get to its end (guest log: $results/guest.log, console log: $console)"
fi

say "results in $results ($((SECONDS - start)) s in all)"
