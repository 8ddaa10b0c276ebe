#include "sio/sio_settings.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace zoltsh {

namespace {

std::mutex g_mutex;
std::optional<SioSettings> g_settings;  // guarded by g_mutex; empty until first use

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  return (*end == '\0' && value >= 0) ? value : fallback;
}

SioSettings FromEnvironment() {
  SioSettings settings;
  long port = EnvNumber("ZOLTSH_SIO_PORT", settings.port);
  if (port > 0 && port < 65536) settings.port = static_cast<unsigned short>(port);
  long limit = EnvNumber("ZOLTSH_SIO_WAIT_LIMIT_MS", 0);
  if (limit > 0) {
    settings.waitLimit = std::chrono::milliseconds(limit);
    if (settings.connectWait > settings.waitLimit) settings.connectWait = settings.waitLimit;
  }
  return settings;
}

}  // namespace

SioSettings SioGetSettings() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!g_settings) g_settings = FromEnvironment();
  return *g_settings;
}

void SioSetSettings(const SioSettings& settings) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_settings = settings;
}

void SioResetSettings() {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_settings.reset();
}

}  // namespace zoltsh
