// Throughput of the encrypted container (AES-256-CBC, salted, MD5 key derivation) on 20 MB:
// the string form (base64 in a JSON field) and the file form (a stored file streamed to a FILE*),
// each way. Reports bytes per second of plaintext.
#include <benchmark/benchmark.h>
#include <json/value.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "encrypt/zoltsh_encrypt.h"

namespace {

constexpr size_t kSize = 20u * 1024 * 1024;
constexpr char kPassword[] = "bench password";

// 20 MB of sheet-like text without NUL bytes (the string form ends at the first NUL).
const std::string& Plain() {
  static const std::string text = [] {
    std::string s;
    s.reserve(kSize);
    unsigned v = 12345;
    while (s.size() < kSize) {
      v = v * 1103515245u + 12345u;
      s += "{\"v\":\"" + std::to_string(v % 100000) + "\"},";
    }
    s.resize(kSize);
    return s;
  }();
  return text;
}

// A private directory for the benchmark's files, removed at exit.
const std::string& WorkDir() {
  static const std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zoltsh-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(WorkDir()); });
    return tmpl;
  }();
  return dir;
}

std::string WriteOnce(const std::string& name, const std::string& data) {
  std::string path = WorkDir() + "/" + name;
  if (!std::filesystem::exists(path)) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  return path;
}

void BM_EncryptString(benchmark::State& state) {
  const std::string& plain = Plain();
  for (auto _ : state) {
    Json::Value out;
    if (!ZOLT_SH_ENCRYPT::EncryptStringToBase64(plain, kPassword, out)) state.SkipWithError("fail");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
}

void BM_DecryptString(benchmark::State& state) {
  Json::Value cipher;
  ZOLT_SH_ENCRYPT::EncryptStringToBase64(Plain(), kPassword, cipher);
  const std::string text = cipher.asString();
  for (auto _ : state) {
    std::string out;
    if (!ZOLT_SH_ENCRYPT::DecryptStringFromBase64(text, kPassword, out))
      state.SkipWithError("fail");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Plain().size()));
}

void BM_EncryptFile(benchmark::State& state) {
  const std::string in = WriteOnce("plain", Plain());
  const std::string out = WorkDir() + "/encrypted";
  for (auto _ : state) {
    FILE* f = fopen(out.c_str(), "wb");
    if (!ZOLT_SH_ENCRYPT::EncryptFileToStream(in, kPassword, f)) state.SkipWithError("fail");
    fclose(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Plain().size()));
}

void BM_DecryptFile(benchmark::State& state) {
  const std::string plain = WriteOnce("plain", Plain());
  const std::string in = WorkDir() + "/container";
  if (!std::filesystem::exists(in)) {
    FILE* f = fopen(in.c_str(), "wb");
    ZOLT_SH_ENCRYPT::EncryptFileToStream(plain, kPassword, f);
    fclose(f);
  }
  const std::string out = WorkDir() + "/decrypted";
  for (auto _ : state) {
    FILE* f = fopen(out.c_str(), "wb");
    if (!ZOLT_SH_ENCRYPT::DecryptFileToStream(in, kPassword, f)) state.SkipWithError("fail");
    fclose(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Plain().size()));
}

BENCHMARK(BM_EncryptString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecryptString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncryptFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecryptFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
