#pragma once

#include "core/result.h"
#include "platform/smallfile.h"

namespace lw::service {

struct ServiceOptions;

// Every file the options name, checked before the service starts; a
// relative --device that exists here is taken from the current folder
// (else it stays a port name, which the serial layer looks up in /dev).
Result<> checkServiceFiles(ServiceOptions& options);

}  // namespace lw::service
