// Values read back from the registry store can have any type and any bytes (a damaged file, an
// older version's data): reading them gives a value or the default, never a crash.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.h"
#include "platform/environment.h"
#include "platform/memory_registry_store.h"
#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  platform::MemoryRegistryStore store;
  platform::FakeEnvironment environment;
  environment.Set("TEMP", "/tmp");
  environment.Set("LOOP", "%LOOP%%LOOP%");
  // Byte 0 the type, byte 1 the length of the value name, then the name, then the bytes.
  platform::RegistryData value;
  value.type = data[0] % 12;
  const std::size_t name_length = std::min<std::size_t>(data[1], size - 2);
  const std::string name(reinterpret_cast<const char*>(data + 2), name_length);
  value.bytes.assign(data + 2 + name_length, data + size);
  if (store.SetValue(platform::kHkeyCurrentUser, "Software\\Fuzz", name, value) !=
      platform::kErrorSuccess)
    return 0;
  platform::cRegistry registry(store, environment);
  registry.SetSectionKey("Software\\Fuzz");
  registry.SetValueKey(name);
  try {
    registry.Value();
    std::vector<std::string> names;
    int count = 0;
    registry.EnumerateSections(&names, &count);
    // Writing back what was read must not fail in a way other than the defined error.
    registry.SetValueType(value.type);
    registry.SetValue(registry.Value());
  } catch (const common::Error&) {
  }
  return 0;
}
