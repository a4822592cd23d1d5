// Windows says little more than its error: a port that another program holds
// refuses to open with ERROR_ACCESS_DENIED; everything else is in the error.
#include "platform/PortFailure.h"

#include "platform/winapi.h"

PortOpenFailure ExplainPortOpenFailure(const std::string& portName, std::uint32_t error) {
  PortOpenFailure failure;
  failure.device = portName;
  if (error == ERROR_ACCESS_DENIED) failure.cause = PortOpenFailure::Cause::Busy;
  return failure;
}
