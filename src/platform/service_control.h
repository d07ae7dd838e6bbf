// Control of the SQL Server service of a data source's machine. Providers answer for the data
// sources they know (the sandbox server's instances, the local systemd unit); the composite asks
// them in turn, and for everything else the answer is "unknown" (0) and "failed" (false).
#pragma once

#include <string_view>
#include <vector>

namespace platform {

// Service states as the service-control manager reports them.
inline constexpr int kServiceUnknown = 0;
inline constexpr int kServiceStopped = 1;
inline constexpr int kServiceStartPending = 2;
inline constexpr int kServiceStopPending = 3;
inline constexpr int kServiceRunning = 4;
inline constexpr int kServiceContinuePending = 5;
inline constexpr int kServicePausePending = 6;
inline constexpr int kServicePaused = 7;

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // The data source may carry the backslashes of a UNC machine name ("\\SRV01\ARCHIVE").
  virtual int Status(std::string_view data_source) = 0;
  virtual bool Start(std::string_view data_source) = 0;
  virtual bool Stop(std::string_view data_source) = 0;
};

class ServiceControlProvider : public ServiceControl {
 public:
  // True when this provider answers for the data source (given without leading backslashes).
  virtual bool Handles(std::string_view data_source) = 0;
};

class CompositeServiceControl : public ServiceControl {
 public:
  // Providers are asked in the order they were added; the first that handles a data source
  // answers. The composite does not own them.
  void AddProvider(ServiceControlProvider& provider);
  void RemoveProvider(ServiceControlProvider& provider);

  int Status(std::string_view data_source) override;
  bool Start(std::string_view data_source) override;
  bool Stop(std::string_view data_source) override;

 private:
  ServiceControlProvider* Find(std::string_view data_source);

  std::vector<ServiceControlProvider*> providers_;
};

}  // namespace platform
