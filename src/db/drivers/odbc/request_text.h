// Requests as the batch a server runs: parameters become variables set from literals, a
// procedure call an EXEC, and output parameters and the return status come back in a last row
// set that the driver keeps for itself. A plain SQL batch reaches any server and any ODBC
// driver the same way, without the driver's own parameter conversions.
#pragma once

#include <string>
#include <vector>

#include "db/driver.h"

namespace db {

// The first column of the row set that carries output values back.
inline constexpr char kOutputMarker[] = "tessera output parameters";

struct RenderedRequest {
  std::string text;
  // Indexes into the request's parameters, in the order their values follow the marker column.
  std::vector<std::size_t> outputs;
};

RenderedRequest RenderRequest(const DriverRequest& request);

// The type a parameter is declared with: its own, else one wide enough for its value.
std::string DeclaredType(const DriverParameter& parameter);

}  // namespace db
