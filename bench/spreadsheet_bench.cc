// Loading and saving a stored document whose one sheet holds 1,000,000 cells, plain and
// protected, beside the floor: the bare parse and write of the same JSON text with the system's
// JSON helpers, and the AES + base64 work a protected document adds. Runs in a private appliance
// root that is removed at exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "drive/zolt_drive.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"
#include "sheet_gen.h"
#include "snapshot/spreadsheet.h"

namespace {

constexpr int kCells = 1000000;
constexpr const char* kPassword = "bench password";

class Store {
 public:
  Store() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zoltsh-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    root_ = tmpl;
    ::setenv("ZOLT_ROOT", root_.c_str(), 1);
    sheetText_ = Json::toString(zoltsh::bench::GenerateSheet(kCells));
    MakeDocument("plain", "");
    std::string sysPass;
    ZOLT_SH_ENCRYPT::GenRandPassword(sysPass);
    MakeDocument("secret", sysPass);
  }
  ~Store() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  const std::string& sheetText() const { return sheetText_; }
  const std::string& root() const { return root_; }

  static Json::Value LoadRequest(const char* id) {
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    req["field"]["text"]["index"] = true;
    req["field"]["text"]["sh_1"] = true;
    return req;
  }
  static Json::Value SaveRequest(const char* id) {
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    req["commit_msg"]["listable"] = true;
    req["commit_msg"]["editors"].append(1001);
    return req;
  }

 private:
  void MakeDocument(const char* id, const std::string& sysPass) {
    zoltsh::SpreadSheet doc;
    doc.index["maxIndex"] = 1;
    doc.index["order"].append("sh_1");
    doc.index["sheets"]["sh_1"]["title"] = "Data";
    Json::fromString(doc.sheets["sh_1"], sheetText_);
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = id;
    req["requester"] = 0;
    req["owner"] = 1001;
    doc.toDriveText(req["text"], sysPass);
    if (!sysPass.empty()) {
      req["metatext"]["encrypt"] = true;
      ZOLT_SH_ENCRYPT::EncryptSysPassToBase64(sysPass, kPassword, req["metatext"]["password"]);
    }
    ZOLT_DRIVE_OBJECT object;
    if (!object.Create(req)) std::abort();
  }

  std::string root_;
  std::string sheetText_;
};

Store& TheStore() {
  static Store store;
  return store;
}

void BM_FloorParse(benchmark::State& state) {
  const std::string& text = TheStore().sheetText();
  for (auto _ : state) {
    Json::Value v;
    Json::fromString(v, text);
    benchmark::DoNotOptimize(v);
    state.PauseTiming();
    Json::Value().swap(v);
    state.ResumeTiming();
  }
}

void BM_FloorWrite(benchmark::State& state) {
  Json::Value sheet;
  Json::fromString(sheet, TheStore().sheetText());
  const std::string path = TheStore().root() + "/floor.json";
  for (auto _ : state) {
    if (!Json::toFile(sheet, path)) state.SkipWithError("write failed");
  }
}

// The floor write made durable as the store makes every version: the file synced to disk.
void BM_FloorWriteSynced(benchmark::State& state) {
  Json::Value sheet;
  Json::fromString(sheet, TheStore().sheetText());
  const std::string path = TheStore().root() + "/floor.json";
  for (auto _ : state) {
    if (!Json::toFile(sheet, path)) state.SkipWithError("write failed");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) state.SkipWithError("fsync failed");
    if (fd >= 0) ::close(fd);
  }
}

void Load(benchmark::State& state, const char* id, const char* password) {
  TheStore();
  for (auto _ : state) {
    zoltsh::SpreadSheet doc;
    doc.LoadFromDrive(Store::LoadRequest(id), password);
    benchmark::DoNotOptimize(doc.sheets);
    state.PauseTiming();
    doc.sheets.clear();
    state.ResumeTiming();
  }
}

void Save(benchmark::State& state, const char* id, const char* password) {
  TheStore();
  for (auto _ : state) {
    state.PauseTiming();
    zoltsh::SpreadSheet doc;
    doc.LoadFromDrive(Store::LoadRequest(id), password);
    state.ResumeTiming();
    doc.SaveToDrive(Store::SaveRequest(id), password);
    state.PauseTiming();
    doc.sheets.clear();
    state.ResumeTiming();
  }
}

void BM_LoadPlain(benchmark::State& state) { Load(state, "plain", ""); }
void BM_SavePlain(benchmark::State& state) { Save(state, "plain", ""); }
void BM_LoadProtected(benchmark::State& state) { Load(state, "secret", kPassword); }
void BM_SaveProtected(benchmark::State& state) { Save(state, "secret", kPassword); }

void BM_AesBase64Encrypt(benchmark::State& state) {
  const std::string& text = TheStore().sheetText();
  for (auto _ : state) {
    Json::Value out;
    ZOLT_SH_ENCRYPT::EncryptStringToBase64(text, "0123456789abcdef0123456789abcdef", out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_AesBase64Decrypt(benchmark::State& state) {
  const std::string& text = TheStore().sheetText();
  Json::Value cipher;
  ZOLT_SH_ENCRYPT::EncryptStringToBase64(text, "0123456789abcdef0123456789abcdef", cipher);
  const std::string base64 = cipher.asString();
  for (auto _ : state) {
    std::string plain;
    ZOLT_SH_ENCRYPT::DecryptStringFromBase64(base64, "0123456789abcdef0123456789abcdef", plain);
    benchmark::DoNotOptimize(plain);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

#define ONE_SHEET Unit(benchmark::kMillisecond)->Iterations(3)
BENCHMARK(BM_FloorParse)->ONE_SHEET;
BENCHMARK(BM_FloorWrite)->ONE_SHEET;
BENCHMARK(BM_FloorWriteSynced)->ONE_SHEET;
BENCHMARK(BM_LoadPlain)->ONE_SHEET;
BENCHMARK(BM_SavePlain)->ONE_SHEET;
BENCHMARK(BM_AesBase64Encrypt)->ONE_SHEET;
BENCHMARK(BM_AesBase64Decrypt)->ONE_SHEET;
BENCHMARK(BM_LoadProtected)->ONE_SHEET;
BENCHMARK(BM_SaveProtected)->ONE_SHEET;

}  // namespace

BENCHMARK_MAIN();
