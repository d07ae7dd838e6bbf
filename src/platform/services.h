// The host-system services an object needs, handed down by whoever creates it.
#pragma once

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/network_discovery.h"
#include "platform/network_probe.h"
#include "platform/registry_store.h"
#include "platform/service_control.h"
#include "platform/system_facts.h"
#include "platform/user_interface.h"

namespace platform {

struct Services {
  const Environment& environment;
  RegistryStore& registry;
  NetworkProbe& network;
  ServiceControl& service_control;
  NetworkDiscovery& discovery;
  SystemFacts& system;
  UserInterface& ui;
  FileSystem& files;
};

}  // namespace platform
