#include "honeypot/BindingSockets.h"

#include "common/Errors.h"

#include <algorithm>
#include <cerrno>

namespace ostrel::honeypot {

namespace {

bool coversEveryAddress(const BindingAddress& binding) {
    return binding.address.empty();
}

} // namespace

std::vector<BoundSocket> bindAll(const std::vector<BindingAddress>& bindings) {
    std::vector<BindingAddress> order(bindings);
    std::stable_partition(order.begin(), order.end(), coversEveryAddress);

    std::vector<int> portsServedEverywhere;
    std::vector<BoundSocket> sockets;
    for (const BindingAddress& binding : order) {
        const bool covered = std::find(portsServedEverywhere.begin(), portsServedEverywhere.end(), binding.port) !=
                             portsServedEverywhere.end();
        int error = 0;
        try {
            sockets.push_back({binding, bindSocket(binding, &error)});
        } catch (const ESocketError&) {
            if (covered && error == EADDRINUSE)
                continue;
            throw;
        }
        if (coversEveryAddress(binding))
            portsServedEverywhere.push_back(binding.port);
    }
    return sockets;
}

} // namespace ostrel::honeypot
