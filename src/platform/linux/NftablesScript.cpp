#include "platform/linux/NftablesScript.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace ostrel::platform {
namespace {

// nft reads a script line by line; very long element lists are split over several commands.
constexpr std::size_t MaxElementsPerCommand = 4096;

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isCommentCharacter(char c) {
    return isAsciiLetter(c) || isAsciiDigit(c) || c == '_' || c == '-' || c == '.' || c == ':' || c == '/' ||
           c == ',' || c == ' ';
}

const char* setOf(AddressFamily family) {
    return family == AddressFamily::IPv4 ? BlockedV4Set : BlockedV6Set;
}

class ScriptWriter {
public:
    explicit ScriptWriter(const std::string& table) : m_table(table) {}

    void line(const std::string& text) {
        m_script += text;
        m_script += '\n';
    }
    void append(const std::string& text) { m_script += text; }

    // Writes a run of changes that share kind and family.
    void run(std::span<const RuleChange> changes) {
        const RuleChange& first = changes.front();
        std::unordered_set<std::string> seen;
        std::vector<const RuleChange*> elements;
        elements.reserve(std::min(changes.size(), MaxElementsPerCommand));
        for (const RuleChange& change : changes) {
            // A second delete of one address in one command fails; a second add changes nothing.
            if (!seen.insert(change.address.text).second)
                continue;
            elements.push_back(&change);
            if (elements.size() == MaxElementsPerCommand) {
                command(first, elements);
                elements.clear();
            }
        }
        if (!elements.empty())
            command(first, elements);
    }

    std::string take() { return std::move(m_script); }

private:
    void command(const RuleChange& first, const std::vector<const RuleChange*>& elements) {
        const bool add = first.kind == RuleChangeKind::Add;
        const std::string target = std::string(" element inet ") + m_table + " " + setOf(first.address.family) + " { ";
        m_script += "add" + target;
        list(elements, add);
        if (!add) {
            m_script += "delete" + target;
            list(elements, false);
        }
    }

    void list(const std::vector<const RuleChange*>& elements, bool withComments) {
        bool firstElement = true;
        for (const RuleChange* change : elements) {
            if (!firstElement)
                m_script += ", ";
            firstElement = false;
            m_script += change->address.text;
            if (withComments && !change->comment.empty()) {
                m_script += " comment \"";
                m_script += change->comment;
                m_script += '"';
            }
        }
        m_script += " }\n";
    }

    const std::string& m_table;
    std::string m_script;
};

} // namespace

bool isNftIdentifier(const std::string& name) {
    if (name.empty() || !(isAsciiLetter(name.front()) || name.front() == '_'))
        return false;
    for (char c : name)
        if (!(isAsciiLetter(c) || isAsciiDigit(c) || c == '_'))
            return false;
    return true;
}

std::string elementComment(const std::string& ruleName) {
    std::string comment = ruleName.substr(0, MaxCommentBytes);
    for (char& c : comment)
        if (!isCommentCharacter(c))
            c = '_';
    return comment;
}

std::string setUpScript(const std::string& table) {
    const std::string in = " inet " + table;
    ScriptWriter writer(table);
    writer.line("add table" + in);
    writer.line("add set" + in + " " + BlockedV4Set + " { type ipv4_addr; }");
    writer.line("add set" + in + " " + BlockedV6Set + " { type ipv6_addr; }");
    // Early in the hook: blocked traffic is dropped before other chains spend work on it.
    writer.line("add chain" + in + " " + InputChain +
                " { type filter hook input priority filter - 10; policy accept; }");
    writer.line("flush chain" + in + " " + InputChain);
    writer.line("add rule" + in + " " + InputChain + " ip saddr @" + BlockedV4Set + " drop");
    writer.line("add rule" + in + " " + InputChain + " ip6 saddr @" + BlockedV6Set + " drop");
    return writer.take();
}

std::string batchScript(const std::string& table, std::span<const RuleChange> changes) {
    ScriptWriter writer(table);
    writer.append(setUpScript(table));
    std::size_t begin = 0;
    while (begin < changes.size()) {
        std::size_t end = begin + 1;
        while (end < changes.size() && changes[end].kind == changes[begin].kind &&
               changes[end].address.family == changes[begin].address.family)
            ++end;
        writer.run(changes.subspan(begin, end - begin));
        begin = end;
    }
    return writer.take();
}

} // namespace ostrel::platform
