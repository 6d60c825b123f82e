// Makes the library's own exception handling work whichever C++ runtime the
// host process carries.
//
// The 32-bit mingw tool chain unwinds with DWARF tables that each module
// registers at start-up. common.dll links libgcc statically, so its throws go
// through its own copy of the unwinder, which only knows the tables
// registered with that copy. But the start-up code of the tool chain hands a
// module's tables to the shared libgcc_s_dw2-1.dll instead whenever that DLL
// is already loaded, as it is in every C++ host built with the compiler's
// default flags. In such a process none of the library's own try/catch
// blocks ever saw a throw: the first one (a named locale that mingw's
// libstdc++ refuses, bad_alloc in MakeClientFile, a failed gzip run) ended in
// std::terminate. Registering the tables with our own unwinder as well mends
// that; the copy in the shared runtime stays for its own use.
#include <windows.h>

extern "C" {
// What libgcc's unwinder offers for frame tables (unwind-dw2-fde.h, which is
// not installed). Linked statically, these are the DLL's own copies.
struct UnwindEhBases {
  void* tbase;
  void* dbase;
  void* func;
};
void __register_frame_info(const void* begin, void* object);
const void* _Unwind_Find_FDE(void* pc, UnwindEhBases* bases);
// Provided by the linker: the first byte of this module's image.
extern IMAGE_DOS_HEADER __ImageBase;
}

namespace {

// libgcc's bookkeeping record for one registered table (six pointers in this
// version; the room to spare costs nothing). It must live as long as the
// module, and the unwinder that owns it lives in the module too, so it is
// never deregistered.
alignas(16) void* g_frame_object[16];

// The start of the image section that holds `address`, or null. The tables'
// section has a long name that only the file's string table spells out, and
// that is not mapped; its address is what identifies it.
const void* SectionStartOf(const void* address) {
  const unsigned char* image = reinterpret_cast<const unsigned char*>(&__ImageBase);
  const IMAGE_NT_HEADERS* headers =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(image + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
  const unsigned char* target = static_cast<const unsigned char*>(address);
  for (unsigned i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
    const unsigned char* start = image + section->VirtualAddress;
    if (target >= start && target < start + section->Misc.VirtualSize) return start;
  }
  return nullptr;
}

void RegisterFramesWithOwnUnwinder() {
  UnwindEhBases bases;
  void* own_code = reinterpret_cast<void*>(&RegisterFramesWithOwnUnwinder);
  if (_Unwind_Find_FDE(own_code, &bases) != nullptr) return;  // the usual case
  // Not with us, so the start-up code gave the tables to the shared runtime;
  // ask it where one of ours is. The section holding it holds all of the
  // module's tables, from its first entry to the zero that the tool chain's
  // closing object puts after the last, which is what registration walks.
  HMODULE shared = GetModuleHandleA("libgcc_s_dw2-1.dll");
  if (shared == nullptr) return;
  using FindFde = const void* (*)(void*, UnwindEhBases*);
  FindFde find_shared = reinterpret_cast<FindFde>(
      reinterpret_cast<void*>(GetProcAddress(shared, "_Unwind_Find_FDE")));
  if (find_shared == nullptr) return;
  const void* entry = find_shared(own_code, &bases);
  if (entry == nullptr) return;
  const void* tables = SectionStartOf(entry);
  if (tables != nullptr) __register_frame_info(tables, g_frame_object);
}

// Runs when the DLL is loaded, after the start-up code's own registration
// (which comes first among the constructors).
struct FrameRegistration {
  FrameRegistration() { RegisterFramesWithOwnUnwinder(); }
} g_frame_registration;

}  // namespace
