// The patch codec as a command, for bench/delta_bench.py to time and
// measure against its peers process by process:
//   delta_tool make OLD NEW PATCH
//   delta_tool apply OLD PATCH OUT   (the expected size from the patch)
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "delta/patch_apply.h"
#include "delta/patch_format.h"
#include "delta/patch_make.h"

namespace {

// Sized first and read in one go: a vector grown while reading leaves its
// smaller copies behind in the heap, and the peak memory measured would be
// the reading's rather than the patch maker's.
std::vector<uint8_t> ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in.tellg();
  std::vector<uint8_t> data(size > 0 ? static_cast<size_t>(size) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

class FilePatch : public delta::PatchInput {
 public:
  explicit FilePatch(FILE* f) : f_(f) {}
  bool Read(uint8_t* buffer, size_t size, size_t* got) override {
    *got = std::fread(buffer, 1, size, f_);
    return !std::ferror(f_);
  }

 private:
  FILE* f_;
};

class FileOld : public delta::OldInput {
 public:
  FileOld(FILE* f, uint64_t size) : f_(f), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size) override {
    // pread: one system call, no stdio buffer to throw away on each seek.
    while (size > 0) {
      const ssize_t got = pread(fileno(f_), buffer, size, static_cast<off_t>(offset));
      if (got <= 0) return false;
      buffer += got;
      offset += static_cast<uint64_t>(got);
      size -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  FILE* f_;
  uint64_t size_;
};

class FileNew : public delta::NewOutput {
 public:
  explicit FileNew(FILE* f) : f_(f) {}
  bool Write(const uint8_t* data, size_t size) override { return std::fwrite(data, 1, size, f_) == size; }

 private:
  FILE* f_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "make") == 0) {
    const std::vector<uint8_t> old_data = ReadAll(argv[2]);
    const std::vector<uint8_t> new_data = ReadAll(argv[3]);
    std::vector<uint8_t> patch;
    std::string error;
    if (!delta::MakePatch(old_data.data(), old_data.size(), new_data.data(), new_data.size(), &patch, &error)) {
      std::fprintf(stderr, "make: %s\n", error.c_str());
      return 1;
    }
    std::ofstream(argv[4], std::ios::binary)
        .write(reinterpret_cast<const char*>(patch.data()), static_cast<std::streamsize>(patch.size()));
    return 0;
  }
  if (argc == 5 && std::strcmp(argv[1], "apply") == 0) {
    FILE* old_file = std::fopen(argv[2], "rb");
    FILE* patch_file = std::fopen(argv[3], "rb");
    FILE* out_file = std::fopen(argv[4], "wb");
    if (!old_file || !patch_file || !out_file) return 1;
    uint8_t head[delta::kPatchHeaderSize];
    if (std::fread(head, 1, sizeof(head), patch_file) != sizeof(head)) return 1;
    delta::PatchHeader h;
    delta::DecodeHeader(head, &h);
    std::rewind(patch_file);
    fseeko(old_file, 0, SEEK_END);
    FileOld old(old_file, static_cast<uint64_t>(ftello(old_file)));
    FilePatch patch(patch_file);
    FileNew out(out_file);
    std::string error;
    if (!delta::ApplyPatch(&patch, &old, h.new_size, &out, &error)) {
      std::fprintf(stderr, "apply: %s\n", error.c_str());
      return 1;
    }
    return std::fclose(out_file) == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: delta_tool make OLD NEW PATCH | apply OLD PATCH OUT\n");
  return 2;
}
