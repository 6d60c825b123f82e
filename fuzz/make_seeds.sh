#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets in out/fuzz/seeds/<entry>/ with
# the project's own tools: a release of samples/app made by 'filedist build'
# (its version list and its gzip files), 'filedist gzip' on sample files, the
# samples' Filters.ini, and a few zip archives and gzip files with header
# fields the release never writes. The hand-written seeds in fuzz/seeds/ are
# added as they are.
#
# usage: fuzz/make_seeds.sh [FILEDIST]   (default: out/fuzz/filedist)
set -euo pipefail
cd "$(dirname "$0")/.."
filedist=$(realpath "${1:-out/fuzz/filedist}")
seeds=out/fuzz/seeds
work=out/fuzz/seed-work
rm -rf "$seeds" "$work"
for entry in version_list filters_ini unzip client_file zip_round_trip fast_deflate fast_inflate stream_inflate \
    manifest release_check patch_apply suffix_array; do
  mkdir -p "$seeds/$entry"
done
mkdir -p "$work/packer" "$work/plain"
cp -r fuzz/seeds/. "$seeds/"

# A release of the sample tree, as a packer makes it.
cp "$filedist" samples/Filters.ini "$work/packer/"
"$work/packer/filedist" build samples/app --releases "$work/releases" > "$work/build.out"
patch_dir=$(tail -n 1 "$work/build.out")
cp "$work/packer/VerComp.dat" "$seeds/version_list/release_list.txt"
cp samples/Filters.ini "$seeds/filters_ini/samples_filters.ini"
cp "$patch_dir/Manifest" "$seeds/manifest/release_manifest.txt"
n=0
while IFS= read -r -d '' file; do
  n=$((n + 1))
  cp "$file" "$seeds/client_file/release_$n.gz"
  cp "$file" "$seeds/unzip/release_$n.gz"
done < <(find "$patch_dir" -type f -print0 | sort -z)

# The whole check of a release: a signed release of the sample tree and one
# of 1,000 files, whose Manifest passes 64 KiB, as flags, pointer, its
# signature, Manifest, its signature, patch index and its signature,
# separated by NUL bytes. Flags 7: the fuzzer signs all three itself.
"$filedist" keygen "$work/seed_key" > /dev/null
mkdir -p "$work/many"
for i in $(seq 1 1000); do echo "file $i" > "$work/many/file_$i.txt"; done
for tree in samples/app "$work/many"; do
  name=$(basename "$tree")
  "$work/packer/filedist" build "$tree" --releases "$work/signed_$name" --sign "$work/seed_key.key" \
    > "$work/signed_$name.out"
  signed_dir=$(tail -n 1 "$work/signed_$name.out")
  for flags in '\000' '\007'; do
    {
      printf "$flags"
      cat "$work/signed_$name/channel.stable" 2> /dev/null || true
      printf '\000'
      cat "$work/signed_$name/channel.stable.sig" 2> /dev/null || true
      printf '\000'
      cat "$signed_dir/Manifest"
      printf '\000'
      cat "$signed_dir/Manifest.sig"
      printf '\000'
      cat "$signed_dir/PatchIndex" 2> /dev/null || true
      printf '\000'
      cat "$signed_dir/PatchIndex.sig" 2> /dev/null || true
    } > "$seeds/release_check/${name}_flags_$(printf "$flags" | od -An -tu1 | tr -d ' ').bin"
  done
done

# The engine's own gzip files, and plain data for the round trip.
while IFS= read -r -d '' file; do
  name=$(basename "$file")
  cp "$file" "$seeds/zip_round_trip/$name"
  "$filedist" gzip "$file" "$seeds/unzip/$name.gz"
done < <(find samples/app -type f -size -8k -print0 | sort -z)
# Longer than the 32 KiB window, so matches reach across a window flush.
for i in $(seq 15); do cat samples/app/data/strings.txt samples/app/bin/app.bin; done > "$work/plain/long.bin"
"$filedist" gzip "$work/plain/long.bin" "$seeds/unzip/long.bin.gz"
cp "$seeds/unzip/long.bin.gz" "$seeds/client_file/long.bin.gz"
# Compressed files larger than the 32 KiB input buffers, so that refills land
# inside the deflate data: noise (stored or nearly stored blocks) and bytes
# of very uneven frequencies (long Huffman codes).
python3 - "$work/plain" <<'PY'
import random, sys
rng = random.Random(11)
open(sys.argv[1] + "/noise.bin", "wb").write(bytes(rng.getrandbits(8) for _ in range(40000)))
counts = [1, 1]
while len(counts) < 24:
    counts.append(counts[-1] + counts[-2])
data = [symbol for symbol, count in enumerate(counts) for _ in range(count)]
rng.shuffle(data)
open(sys.argv[1] + "/uneven.bin", "wb").write(bytes(data))
PY
for name in noise uneven; do
  "$filedist" gzip "$work/plain/$name.bin" "$seeds/unzip/$name.bin.gz"
  cp "$seeds/unzip/$name.bin.gz" "$seeds/client_file/$name.bin.gz"
done
head -c 100000 "$work/plain/long.bin" > "$seeds/zip_round_trip/long.bin"
# Byte frequencies in the Fibonacci series: Huffman codes longer than deflate
# allows, which the compressor must cut to length.
python3 - "$seeds/zip_round_trip/fibonacci.bin" <<'PY'
import random, sys
counts = [1, 1]
while len(counts) < 22:
    counts.append(counts[-1] + counts[-2])
data = [symbol for symbol, count in enumerate(counts) for _ in range(count)]
random.Random(7).shuffle(data)
open(sys.argv[1], "wb").write(bytes(data))
PY
# The fast mode takes the same plain data, behind the byte that steers its
# run (0x0c: fed whole and then in pieces of 4 KiB; 0xfc: repeated past
# the stream's buffer and fed in pieces of 4 KiB).
for file in "$seeds/zip_round_trip"/*; do
  { printf '\x0c'; cat "$file"; } > "$seeds/fast_deflate/$(basename "$file")"
done
{ printf '\xfc'; head -c 5000 "$work/plain/long.bin"; } > "$seeds/fast_deflate/tiled_long.bin"

# Client side: plain (not gzip) data is copied, members one after another are
# all decoded, and an empty fetched file gives an empty client file.
cp samples/app/readme.txt "$seeds/client_file/plain.txt"
: > "$seeds/client_file/empty"
cat "$seeds/unzip/readme.txt.gz" "$seeds/unzip/settings.ini.gz" > "$seeds/client_file/two_members.gz"
cp "$seeds/client_file/two_members.gz" "$seeds/unzip/two_members.gz"

# gzip and zip as other writers: a stored name, stored zip entries, deflated
# ones, sizes in a data descriptor (a zip written to a pipe), two entries.
gzip -c -9 samples/app/data/strings.txt > "$seeds/unzip/strings_gzip9.gz"
(cd samples/app && zip -q -0 "$OLDPWD/$work/stored.zip" readme.txt)
(cd samples/app && zip -q -9 "$OLDPWD/$work/deflated.zip" data/levels/level2.dat)
(cd samples/app && zip -q -D "$OLDPWD/$work/two.zip" readme.txt config/settings.ini)
(cd samples/app && zip -q - readme.txt | cat > "$OLDPWD/$work/descriptor.zip")
cp "$work"/*.zip "$seeds/unzip/"
# Every optional header field the engine skips: extra field, name, comment.
python3 - "$seeds/unzip/readme.txt.gz" "$seeds/unzip/all_fields.gz" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
flags = data[3]
body = data[10:]
if flags & 0x08:  # drop the stored name; it is written again below
    body = body[body.index(b"\0") + 1:]
header = bytes([0x1F, 0x8B, 8, 0x1C | 0x01, 0, 0, 0, 0, 0, 3])
extra = b"AB\x04\x00data"
out = header + len(extra).to_bytes(2, "little") + extra + b"readme.txt\0" + b"a comment\0" + body
open(sys.argv[2], "wb").write(out)
PY

# Patches: pairs of a sample file and an edited copy (an insertion, a
# changed run, a cut end), behind the mode byte 0x01 and the 16-bit size of
# the old file; the fuzzer then writes the patches it makes of them, as
# inputs of the reader (mode 0x00: the old file, then the patch).
python3 - "$seeds/patch_apply" samples/app/readme.txt samples/app/config/settings.ini \
    "$work/plain/noise.bin" "$work/plain/long.bin" <<'PY'
import sys
out = sys.argv[1]
for n, path in enumerate(sys.argv[2:]):
    old = open(path, "rb").read()[:20000]
    edited = old[: len(old) // 3] + b"inserted here" + old[len(old) // 3 :]
    edited = bytearray(edited[: len(edited) - len(edited) // 10])
    for i in range(len(edited) // 2, min(len(edited), len(edited) // 2 + 40)):
        edited[i] ^= 0x21
    data = bytes([1, len(old) & 0xFF, len(old) >> 8]) + old + bytes(edited)
    open(f"{out}/pair_{n}.bin", "wb").write(data)
PY
mkdir -p "$work/patches"
FUZZ_PATCH_SEEDS=$(realpath "$work/patches") "$(dirname "$filedist")/patch_apply_fuzz" -runs=0 \
  "$seeds/patch_apply" > "$work/patches.log" 2>&1
cp "$work/patches"/* "$seeds/patch_apply/"
for file in samples/app/readme.txt samples/app/config/settings.ini "$work/plain/long.bin"; do
  head -c 8192 "$file" > "$seeds/suffix_array/$(basename "$file")"
done

# The member decoder reads what the gzip readers read: gzip files only.
find "$seeds/client_file" -name '*.gz' -exec cp {} "$seeds/fast_inflate/" \;
# The download decoder takes the same files, and each twice over, behind the
# byte that steers how they are cut into pieces.
n=0
while IFS= read -r -d '' file; do
  n=$((n + 1))
  { printf '\000'; cat "$file"; } > "$seeds/stream_inflate/small_pieces_$n.gz"
  { printf '\052'; cat "$file" "$file"; } > "$seeds/stream_inflate/two_members_$n.gz"
done < <(find "$seeds/fast_inflate" -name '*.gz' -print0 | sort -z)

for entry in version_list filters_ini unzip client_file zip_round_trip fast_deflate fast_inflate stream_inflate \
    manifest release_check patch_apply suffix_array; do
  echo "seeds/$entry: $(find "$seeds/$entry" -type f | wc -l) files, $(du -sk "$seeds/$entry" | cut -f1) KiB"
done
