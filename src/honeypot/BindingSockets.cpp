#include "honeypot/BindingSockets.h"

#include "common/Errors.h"

#include <algorithm>

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
        bool addressInUse = false;
        try {
            sockets.push_back({binding, bindSocket(binding, &addressInUse)});
        } catch (const ESocketError&) {
            if (covered && addressInUse)
                continue;
            throw;
        }
        if (coversEveryAddress(binding))
            portsServedEverywhere.push_back(binding.port);
    }
    return sockets;
}

void listenAll(std::vector<BoundSocket>& sockets, int queue) {
    std::vector<int> portsServedEverywhere;
    for (auto bound = sockets.begin(); bound != sockets.end();) {
        const bool covered =
            !coversEveryAddress(bound->binding) && std::find(portsServedEverywhere.begin(), portsServedEverywhere.end(),
                                                             bound->binding.port) != portsServedEverywhere.end();
        bool addressInUse = false;
        try {
            listenOn(bound->socket, bound->binding, queue, &addressInUse);
        } catch (const ESocketError&) {
            if (covered && addressInUse) {
                bound = sockets.erase(bound);
                continue;
            }
            throw;
        }
        if (coversEveryAddress(bound->binding))
            portsServedEverywhere.push_back(bound->binding.port);
        ++bound;
    }
}

} // namespace ostrel::honeypot
