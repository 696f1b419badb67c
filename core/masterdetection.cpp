#include "core/masterdetection.h"

#include "core/busport.h"
#include "core/busprotocol.h"

namespace lw {

void MasterDetection::scanports(SerialPortOps& port) {
    for (int n = 1; n <= kScannedPorts; ++n) {
        port.setCommPort(n);
        port.setPortOpen(true);
        if (port.portOpen()) {
            port.setPortOpen(false);
            portok[static_cast<std::size_t>(n)] = 1;
        }
        port.setPortOpen(false);
    }
}

MasterDetection::Outcome MasterDetection::probemaster(SerialPortOps& port,
                                                      const std::function<bool()>& dwell,
                                                      const std::function<void()>& slowHit) {
    Outcome found;
    for (const std::string_view baud : {kFastBaud, kSlowBaud}) {
        for (int n = 1; n <= kScannedPorts; ++n) {
            if (portok[static_cast<std::size_t>(n)] != 1) continue;
            port.setCommPort(n);
            port.setSettings(lineSettings(baud));
            if (!port.setPortOpen(true).ok) continue;  // taken since the scan: no hit
            if (!dwell()) {
                port.setPortOpen(false);
                found.cancelled = true;
                return found;
            }
            bool heard = false;
            // Everything received so far, a receive buffer at a time.
            for (int reads = 0; reads < 256; ++reads) {
                const std::string in = port.input();
                if (in.empty()) break;
                heard = heard || in.find(kMasterRemote) != std::string::npos;
            }
            if (heard) {
                found.baud = std::string(baud);
                found.port = n;
                if (baud == kSlowBaud && slowHit) slowHit();
            }
            port.setPortOpen(false);
        }
    }
    return found;
}

void progressTick(int& progbar, int& barValue) {
    if (progbar > 100) {
        progbar = 85;
    } else {
        progbar += 2;
    }
    if (progbar < 100) barValue = progbar;
}

}  // namespace lw
