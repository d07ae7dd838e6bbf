// Every platform service as a fake, for tests of the folders above: set up what the host should
// answer, hand services() to the code under test, then look at what was asked.
#pragma once

#include "platform/memory_registry_store.h"
#include "platform/scripted_user_interface.h"
#include "platform/services.h"
#include "platform/testing/fake_file_system.h"
#include "platform/testing/fake_network_discovery.h"
#include "platform/testing/fake_network_probe.h"
#include "platform/testing/fake_service_control.h"

namespace platform {

struct FakePlatform {
  FakePlatform() { service_control.AddProvider(services_fake); }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  Services services() {
    return Services{environment, registry, network, service_control,
                    discovery,   system,   ui,      *file_system};
  }

  FakeEnvironment environment;
  MemoryRegistryStore registry;
  FakeNetworkProbe network;
  FakeServiceControl services_fake;         // answers for the data sources set on it
  CompositeServiceControl service_control;  // asks services_fake, then what a test adds
  FakeNetworkDiscovery discovery;
  FakeSystemFacts system;
  ScriptedUserInterface ui;
  FakeFileSystem files;
  // What services() hands out: the fake, unless a test needs the real disk's behaviour.
  FileSystem* file_system = &files;
};

}  // namespace platform
