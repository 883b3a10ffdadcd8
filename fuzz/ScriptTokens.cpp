// Arbitrary bytes as an update script: the token reader runs over them to
// the end of the input or an error, then every source is closed. The same
// bytes are also the file "i.txt" beside the script, so that `include`
// statements (nested up to the depth limit) and macros across files are
// exercised. Files are opened only inside the target's own folder; paths
// naming anything else are refused as missing files.
//
// Run on an empty corpus folder, the target first writes a few seed scripts
// into it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "fuzz/SandboxEnv.h"
#include "ourlib/src/ErrFrame.h"
#include "script/Source.h"
#include "script/TokenReader.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path folder = [] {
    fs::path f = fs::temp_directory_path() /
                 ("fuzz_script_tokens_" + std::to_string(std::random_device{}()));
    fs::create_directories(f);
    return f;
  }();
  return folder;
}

void WriteFile(const fs::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

const char* const kSeeds[] = {
    "setversion 3\nupdatetype \"full\"\nfile __MAIN \"a.dat\" 0x10, 'c' ;\n",
    "macro NAME \"i.txt\"\ninclude NAME\nmacro V 12\nversion V + 1 // note\n",
    "include \"i.txt\"\n/* block\n comment */ dstpath \\\nfile\r\n\x1a tail",
    "include <DATA] x.txt>\nif (a == b) { goto done; } else { return -1; }\n",
    "\"unclosed\nmacro\nmacro A\ninclude\n'\\n' 99999999999 0x 07 \"a\\\"b\"\n",
};

void WriteSeeds(const char* folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec) || !fs::is_empty(folder, ec)) return;
  int n = 0;
  for (const char* seed : kSeeds) {
    WriteFile(fs::path(folder) / ("seed" + std::to_string(n++)),
              reinterpret_cast<const uint8_t*>(seed), std::strlen(seed));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    if ((*argv)[i][0] != '-') WriteSeeds((*argv)[i]);
  }
  static fuzzing::SandboxEnv env(Folder(), {});
  plat::SetDefaultEnv(&env);
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(Folder(), ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path script = Folder() / "s.txt";
  WriteFile(script, data, size);
  WriteFile(Folder() / "i.txt", data, size);
  if (OpenScript(script.string().c_str()) != 0) std::abort();  // the file is there
  for (;;) {
    int token = 0;
    const int code = Guard([&] { token = ReadToken(); });
    if (code != 0 || token < 0 || token == TOK_END_OF_INPUT) break;
  }
  CloseAllSources();
  if (SourceDepth() != 0) std::abort();
  return 0;
}
