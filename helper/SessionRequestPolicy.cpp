#include "helper/SessionRequestPolicy.h"

#include "base/Bundle.h"

namespace tw {

std::optional<std::string> SessionRequestPolicy::refusal(
    const std::string& path, const std::vector<std::string>& arguments) const {
    const auto match = executables_.resolve(path);
    if (!match) return "not one of the bundle's programs";
    if (match->kind == BundleExecutables::Kind::cli) {
        if (arguments == std::vector<std::string>{"down"}) return std::nullopt;
        return "the CLI may only be asked to run \"down\"";
    }
    if (arguments == std::vector<std::string>{"--help"} || arguments == daemonStart()) {
        return std::nullopt;
    }
    return "the daemon may only be asked for \"--help\" or to start with the bundle's servers";
}

std::vector<std::string> SessionRequestPolicy::daemonStart() const {
    const Bundle bundle(bundleRoot_);
    std::vector<std::string> arguments{"up"};
    for (const auto& [key, flag] : {std::pair{"TWConductorURL", "--conductor-host"},
                                    std::pair{"TWSignalURL", "--signal-host"}}) {
        const auto value = bundle.string(key);
        if (!value || value->empty()) continue;
        arguments.push_back(flag);
        arguments.push_back(*value);
    }
    return arguments;
}

}  // namespace tw
