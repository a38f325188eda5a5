#include "support/linux/NftablesInspection.h"

#include <nlohmann/json.hpp>

namespace ostrel::test {
namespace {

nlohmann::json listed(const NetworkNamespace& ns, const std::vector<std::string>& what) {
    std::vector<std::string> command{"nft", "-j", "list"};
    command.insert(command.end(), what.begin(), what.end());
    return nlohmann::json::parse(ns.execChecked(command)).at("nftables");
}

} // namespace

std::map<std::string, std::string> setElements(const NetworkNamespace& ns, const std::string& table,
                                               const std::string& set) {
    std::map<std::string, std::string> elements;
    for (const auto& item : listed(ns, {"set", "inet", table, set})) {
        if (!item.contains("set") || !item["set"].contains("elem"))
            continue;
        for (const auto& element : item["set"]["elem"]) {
            if (element.is_string())
                elements[element.get<std::string>()] = "";
            else
                elements[element["elem"]["val"].get<std::string>()] = element["elem"].value("comment", "");
        }
    }
    return elements;
}

std::size_t ruleCount(const NetworkNamespace& ns, const std::string& table, const std::string& chain) {
    std::size_t rules = 0;
    for (const auto& item : listed(ns, {"chain", "inet", table, chain}))
        rules += item.contains("rule") ? 1 : 0;
    return rules;
}

} // namespace ostrel::test
