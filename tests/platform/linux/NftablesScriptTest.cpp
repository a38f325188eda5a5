#include "platform/linux/NftablesScript.h"

#include "support/NamespaceTest.h"
#include "support/linux/NftablesInspection.h"

#include <gtest/gtest.h>

namespace ostrel::platform {
namespace {

using test::NetworkNamespace;
using Elements = std::map<std::string, std::string>;

const std::string Table = "ostrel_script_test";

RuleChange add(const std::string& address, const std::string& ruleName) {
    return {RuleChangeKind::Add, *parseIpLiteral(address), elementComment(ruleName), address};
}
RuleChange add(const std::string& address) {
    return add(address, "Autoblock_" + address);
}
RuleChange remove(const std::string& address) {
    return {RuleChangeKind::Delete, *parseIpLiteral(address), "", address};
}

struct CommentCase {
    std::string ruleName;
    std::string comment;
};

const CommentCase commentCases[] = {
    {"Autoblock_203.0.113.7", "Autoblock_203.0.113.7"},
    {"Autoblock_2001:db8::7", "Autoblock_2001:db8::7"},
    {"Autoblock_\" }; flush ruleset; #", "Autoblock__ __ flush ruleset_ _"},
    {"line\nflush ruleset", "line_flush ruleset"},
    {"back\\slash $var @set 'single'", "back_slash _var _set _single_"},
    {"Grüße", "Gr____e"},
    {std::string(300, 'a'), std::string(128, 'a')}, // nft's limit for a comment
    {"", ""},
};

TEST(NftablesScript, MakesRuleNamesSafeComments) {
    for (const auto& c : commentCases) {
        SCOPED_TRACE("rule name '" + c.ruleName + "'");
        EXPECT_EQ(elementComment(c.ruleName), c.comment);
    }
}

TEST(NftablesScript, TakesOnlyBareIdentifiersAsTableNames) {
    for (const std::string good : {"rdp_ostrel", "_t", "T2"})
        EXPECT_TRUE(isNftIdentifier(good)) << good;
    for (const std::string bad : {"", "2t", "rdp-ostrel", "t; flush ruleset", "t t", "t\n"})
        EXPECT_FALSE(isNftIdentifier(bad)) << bad;
}

class NftablesScriptInNamespace : public test::NamespaceTest {
protected:
    void SetUp() override {
        NamespaceTest::SetUp();
        if (IsSkipped())
            return;
        nft(setUpScript(Table));
    }

    void nft(const std::string& script) { m_ns->execChecked({"nft", "-f", "-"}, script); }
    Elements v4() { return test::setElements(*m_ns, Table, BlockedV4Set); }
    Elements v6() { return test::setElements(*m_ns, Table, BlockedV6Set); }
};

TEST_F(NftablesScriptInNamespace, StoresEverySafeCommentAsItIs) {
    std::vector<RuleChange> changes;
    Elements expected;
    int host = 1;
    for (const auto& c : commentCases) {
        const std::string address = "198.51.100." + std::to_string(host++);
        changes.push_back(add(address, c.ruleName));
        expected[address] = c.comment;
    }
    nft(batchScript(Table, changes));
    EXPECT_EQ(v4(), expected);
}

TEST_F(NftablesScriptInNamespace, SetUpRunsAgainWithoutDoublingRulesOrLosingElements) {
    nft(batchScript(Table, std::vector{add("203.0.113.7")}));
    nft(setUpScript(Table));
    nft(setUpScript(Table));
    EXPECT_EQ(test::ruleCount(*m_ns, Table, InputChain), 2u);
    EXPECT_EQ(v4(), (Elements{{"203.0.113.7", "Autoblock_203.0.113.7"}}));
}

struct BatchCase {
    std::string name;
    std::vector<RuleChange> already; // applied in a batch of its own first
    std::vector<RuleChange> batch;
    Elements v4;
    Elements v6;
};

TEST_F(NftablesScriptInNamespace, AppliesOneBatchInOrder) {
    const std::vector<BatchCase> cases = {
        {"a delete of an absent address does not sink the adds",
         {},
         {remove("203.0.113.9"), add("203.0.113.7"), add("203.0.113.8")},
         {{"203.0.113.7", "Autoblock_203.0.113.7"}, {"203.0.113.8", "Autoblock_203.0.113.8"}},
         {}},
        {"add then delete leaves the address absent", {}, {add("203.0.113.7"), remove("203.0.113.7")}, {}, {}},
        {"delete then add leaves the address present",
         {},
         {remove("203.0.113.7"), add("203.0.113.7")},
         {{"203.0.113.7", "Autoblock_203.0.113.7"}},
         {}},
        {"add, delete, add of one address",
         {},
         {add("203.0.113.7"), remove("203.0.113.7"), add("203.0.113.7")},
         {{"203.0.113.7", "Autoblock_203.0.113.7"}},
         {}},
        {"repeated adds and deletes in one run",
         {},
         {add("203.0.113.7"), add("203.0.113.7"), remove("203.0.113.8"), remove("203.0.113.8")},
         {{"203.0.113.7", "Autoblock_203.0.113.7"}},
         {}},
        {"a present address is deleted", {add("203.0.113.7")}, {remove("203.0.113.7")}, {}, {}},
        {"a present address is added again without failing",
         {add("203.0.113.7", "first")},
         {add("203.0.113.7", "second"), add("203.0.113.8")},
         {{"203.0.113.7", "first"}, {"203.0.113.8", "Autoblock_203.0.113.8"}},
         {}},
        {"both families in one batch",
         {add("2001:db8::8")},
         {add("2001:db8::7"), add("203.0.113.7"), remove("2001:db8::8"), remove("2001:db8::7")},
         {{"203.0.113.7", "Autoblock_203.0.113.7"}},
         {}},
        {"IPv6 stays", {}, {add("2001:DB8::7")}, {}, {{"2001:db8::7", "Autoblock_2001:DB8::7"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* set : {BlockedV4Set, BlockedV6Set})
            nft("flush set inet " + Table + " " + set);
        if (!c.already.empty())
            nft(batchScript(Table, c.already));
        ASSERT_NO_THROW(nft(batchScript(Table, c.batch)));
        EXPECT_EQ(v4(), c.v4);
        EXPECT_EQ(v6(), c.v6);
    }
}

TEST_F(NftablesScriptInNamespace, SplitsLongRunsOverSeveralCommands) {
    std::vector<RuleChange> adds;
    std::vector<RuleChange> deletes;
    for (int host = 1; host <= 5000; ++host) {
        char address[32];
        std::snprintf(address, sizeof address, "2001:db8::%x", host);
        adds.push_back(add(address));
        deletes.push_back(remove(address));
    }
    nft(batchScript(Table, adds));
    EXPECT_EQ(v6().size(), 5000u);
    nft(batchScript(Table, deletes));
    EXPECT_TRUE(v6().empty());
    nft(batchScript(Table, deletes)); // none of them is there any more
}

} // namespace
} // namespace ostrel::platform
