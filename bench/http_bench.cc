// Persisting command batches through the web-API host: a real zolt-webapi-host with the snapshot
// module and 4 workers, over a private appliance root holding one small document; 4 client
// threads each send 250 "ZOLT.Tabvale.Snapshot" "create" calls (a batch of 10 value and style
// commands on cells of their own), 1,000 calls in all, all on the same document, so the calls
// queue on its lock. Reports the median, 99th-percentile and longest round trip and the
// throughput as counters.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "drive/zolt_drive.h"
#include "json/json_text.h"
#include "snapshot/spreadsheet.h"
#include "support/host_process.h"
#include "support/run_program.h"
#include "support/temp_root.h"

namespace {

constexpr int kWorkers = 4;
constexpr int kClients = 4;
constexpr int kCallsPerClient = 250;
constexpr int kCommandsPerBatch = 10;
constexpr unsigned kUid = 1001;

// The appliance root, the user, the document and the running host, made once.
class Setup {
 public:
  Setup() {
    if (zoltsh::testing::RunProgram({ZOLTUSER_BIN, "--root", root_.dir(), "add", "alice", "--uid",
                                     std::to_string(kUid), "--password", "pw"})
            .status != 0) {
      error_ = "cannot add the user";
      return;
    }
    std::error_code ec;
    std::filesystem::create_directories(root_.path("tmp"), ec);  // the lock folder lives below it
    if (!MakeDocument()) {
      error_ = "cannot create the document";
      return;
    }
    host_ = std::make_unique<zoltsh::testing::HostProcess>(
        HOST_BIN, root_.dir(), kWorkers, std::vector<std::string>{SNAPSHOT_MODULE_PATH});
    if (host_->port() <= 0) {
      error_ = "the host did not start";
      return;
    }
    sid_ = zoltsh::testing::HostLogin(host_->port(), "alice", "pw");
    if (sid_.empty()) error_ = "login refused";
  }

  const std::string& error() const { return error_; }
  int port() const { return host_->port(); }
  const std::string& sid() const { return sid_; }

 private:
  // One visible sheet of 100 x 30 with a few cells, owned by the user.
  static bool MakeDocument() {
    zoltsh::SpreadSheet doc;
    Json::fromString(doc.index, R"({"maxIndex": 1, "order": ["sh_1"], "editors": [],
        "schemaVersion": 1, "sheets": {"sh_1": {"deleted": false, "title": "Data"}}})");
    Json::fromString(doc.sheets["sh_1"], R"({"rowCount": 100, "colCount": 30,
        "cells": {"0": {"0": {"v": "Name"}, "1": {"v": "Amount"}}}})");
    Json::Value req(Json::objectValue);
    req["ns"] = "Tabvale";
    req["id"] = "doc";
    req["requester"] = 0;
    req["owner"] = kUid;
    doc.toDriveText(req["text"], "");
    req["text"]["title"] = "Bench";
    ZOLT_DRIVE_OBJECT object;
    return object.Create(req);
  }

  zoltsh::testing::TempRoot root_;
  std::unique_ptr<zoltsh::testing::HostProcess> host_;
  std::string sid_;
  std::string error_;
};

// The request body of call `call` of client `client`: 5 values and 5 styles on the client's own
// column, on rows that cycle through 1..50.
std::string RequestBody(int client, int call) {
  Json::Value body(Json::objectValue);
  body["api"] = "ZOLT.Tabvale.Snapshot";
  body["version"] = 1;
  body["method"] = "create";
  body["params"]["object_id"] = "doc";
  Json::Value& commands = body["params"]["commands"] = Json::Value(Json::arrayValue);
  for (int i = 0; i < kCommandsPerBatch; ++i) {
    const int row = 1 + (call * 5 + i / 2) % 50;
    Json::Value& command = commands.append(Json::Value(Json::objectValue));
    command["id"] = "sh_1";
    command["uid"] = kUid;
    Json::Value change(Json::arrayValue);
    change.append(row);
    change.append(client);
    if (i % 2 == 0) {
      command["cmd"] = "value";
      change.append(call * 100 + i);
    } else {
      command["cmd"] = "style";
      change.append(Json::Value(Json::objectValue))["bold"] = (call % 2) == 0;
    }
    command["changes"].append(change);
  }
  return Json::toString(body);
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t i = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

void BM_SnapshotCreateRoundTrip(benchmark::State& state) {
  static Setup setup;
  if (!setup.error().empty()) {
    state.SkipWithError(setup.error().c_str());
    return;
  }
  std::vector<double> latencies;  // milliseconds, every call of every iteration
  std::atomic<int> failures{0};
  double seconds = 0;
  for (auto _ : state) {
    std::vector<std::vector<double>> perClient(kClients);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([c, &perClient, &failures] {
        httplib::Client client("127.0.0.1", setup.port());
        // A connection per call, without Nagle's delay on the client side. A kept-alive
        // connection to the host stand-in adds two delayed-ACK stalls (about 40 ms each) to every
        // call, as both ends write a message in two segments; that would measure TCP, not the
        // service.
        client.set_keep_alive(false);
        client.set_tcp_nodelay(true);
        client.set_read_timeout(30, 0);
        const httplib::Headers headers{{"X-Zolt-Sid", setup.sid()}};
        perClient[c].reserve(kCallsPerClient);
        for (int call = 0; call < kCallsPerClient; ++call) {
          const std::string body = RequestBody(c, call);
          const auto sent = std::chrono::steady_clock::now();
          auto res = client.Post("/webapi/entry", headers, body, "application/json");
          const auto answered = std::chrono::steady_clock::now();
          if (!res || res->status != 200 ||
              res->body.find("\"success\":true") == std::string::npos) {
            if (failures++ == 0) {
              std::fprintf(stderr, "first failed call: %s\n",
                           res ? res->body.c_str() : httplib::to_string(res.error()).c_str());
            }
            continue;
          }
          perClient[c].push_back(
              std::chrono::duration<double, std::milli>(answered - sent).count());
        }
      });
    }
    for (std::thread& t : clients) t.join();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& one : perClient) latencies.insert(latencies.end(), one.begin(), one.end());
  }
  std::sort(latencies.begin(), latencies.end());
  state.counters["calls"] = static_cast<double>(latencies.size());
  state.counters["failed"] = failures.load();
  state.counters["median_ms"] = Percentile(latencies, 0.5);
  state.counters["p99_ms"] = Percentile(latencies, 0.99);
  state.counters["max_ms"] = latencies.empty() ? 0 : latencies.back();
  state.counters["calls_per_s"] = seconds > 0 ? static_cast<double>(latencies.size()) / seconds : 0;
  if (failures.load() > 0) state.SkipWithError("some calls failed");
}

}  // namespace

BENCHMARK(BM_SnapshotCreateRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
