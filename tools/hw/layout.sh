#!/bin/sh
# Lays out the hardware tests' guest in DIR: Debian's own kernel and the
# modules it needs (unpacked from the package, never installed on this
# machine) and a busybox initramfs whose init mounts this machine's root over
# 9p. Keeps what is there: the kernel once unpacked, the initramfs while it is
# newer than its init.
set -e
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -f "$dir/vmlinuz" ] || [ ! -d "$dir/modules" ]; then
  rm -rf "$dir"
  mkdir -p "$dir/deb" "$dir/modules.new"
  # The kernel that Debian's linux-image-amd64 currently stands for.
  package=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1)
  version=${package#linux-image-}
  (cd "$dir/deb" && apt-get download -q "$package")
  dpkg-deb -x "$dir"/deb/*.deb "$dir/root"
  depmod -b "$dir/root" "$version"
  # The drivers for 9p over virtio and for the FTDI adapter on an xHCI bus,
  # named by their place in the load order; the 16550's 8250 driver is built
  # into the kernel.
  i=10
  for module in $(modprobe -d "$dir/root" -S "$version" --show-depends -a 9p 9pnet_virtio virtio_pci xhci_pci ftdi_sio |
                  sed -n 's/^insmod \([^ ]*\).*/\1/p' | awk '!seen[$0]++'); do
    name=$(basename "$module" .xz)
    case $module in
      *.xz) xz -dc "$module" >"$dir/modules.new/$i-$name" ;;
      *) cp "$module" "$dir/modules.new/$i-$name" ;;
    esac
    i=$((i + 1))
  done
  cp "$dir/root/boot/vmlinuz-$version" "$dir/vmlinuz"
  mv "$dir/modules.new" "$dir/modules"
  rm -rf "$dir/deb" "$dir/root"
fi
if [ ! -f "$dir/initramfs.gz" ] || [ -n "$(find "$here/init" -newer "$dir/initramfs.gz")" ]; then
  rm -rf "$dir/initramfs"
  mkdir -p "$dir/initramfs/bin"
  cp -r "$dir/modules" "$dir/initramfs/modules"
  cp /bin/busybox "$dir/initramfs/bin/busybox"
  cp "$here/init" "$dir/initramfs/init"
  chmod +x "$dir/initramfs/init"
  (cd "$dir/initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$dir/initramfs.gz.new"
  mv "$dir/initramfs.gz.new" "$dir/initramfs.gz"
  rm -rf "$dir/initramfs"
fi
