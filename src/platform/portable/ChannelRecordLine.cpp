#include "platform/portable/ChannelRecordLine.h"

#include <charconv>
#include <limits>
#include <nlohmann/json.hpp>

namespace ostrel::platform {
namespace {

using Json = nlohmann::json;

std::string wholeNumberText(auto value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string elementText(const Json& element) {
    if (element.is_string())
        return element.get<std::string>();
    if (element.is_number_integer())
        return element.is_number_unsigned() ? wholeNumberText(element.get<std::uint64_t>())
                                            : wholeNumberText(element.get<std::int64_t>());
    return element.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<std::int64_t> wholeNumber(const Json& value) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    return std::nullopt;
}

// Collects the fields of one record straight from the parser's events, so that the common
// line costs no document tree. Gives up (m_needsTree) when an array element is itself an
// array or object, whose text the tree path produces.
class RecordCollector {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    bool null() {
        return value(true, std::nullopt, [] { return std::string("null"); });
    }
    bool boolean(bool flag) {
        return value(false, std::nullopt, [flag] { return std::string(flag ? "true" : "false"); });
    }
    bool number_integer(number_integer_t number) {
        return value(false, number, [number] { return wholeNumberText(number); });
    }
    bool number_unsigned(number_unsigned_t number) {
        const bool fits = number <= static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max());
        return value(false, fits ? std::optional<std::int64_t>(static_cast<std::int64_t>(number)) : std::nullopt,
                     [number] { return wholeNumberText(number); });
    }
    bool number_float(number_float_t number, const string_t&) {
        return value(false, std::nullopt, [number] { return elementText(Json(number)); });
    }
    bool string(string_t& text) {
        return value(false, std::nullopt, [&text] { return text; });
    }
    bool binary(binary_t&) { return false; }

    bool start_object(std::size_t) { return open(); }
    bool end_object() { return close(); }
    bool start_array(std::size_t) {
        if (m_depth == 0)
            return false; // the line is no object
        if (m_depth == 1 && (m_field == Field::Data || m_field == Field::InsertionStrings)) {
            auto& target = m_field == Field::Data ? m_record.Data : m_record.InsertionStrings;
            m_collecting = &target.emplace();
            ++m_depth;
            return true;
        }
        return open();
    }
    bool end_array() {
        if (m_depth == 2)
            m_collecting = nullptr;
        return close();
    }
    bool key(string_t& name) {
        if (m_depth == 1)
            m_field = fieldNamed(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    bool needsTree() const { return m_needsTree; }
    std::optional<ChannelRecordLine> record() {
        if (!m_hasRecordNumber)
            return std::nullopt;
        return std::move(m_record);
    }

private:
    enum class Field { Other, RecordNumber, EventCode, Data, InsertionStrings };

    static Field fieldNamed(const string_t& name) {
        if (name == "RecordNumber")
            return Field::RecordNumber;
        if (name == "EventCode")
            return Field::EventCode;
        if (name == "Data")
            return Field::Data;
        if (name == "InsertionStrings")
            return Field::InsertionStrings;
        return Field::Other;
    }

    bool open() {
        if (m_depth == 0) {
            ++m_depth;
            return true;
        }
        if (m_collecting) {
            m_needsTree = true;
            return false;
        }
        if (m_depth == 1 && m_field != Field::Other)
            return false; // a known field holding a structure
        ++m_depth;
        return true;
    }
    bool close() {
        --m_depth;
        return true;
    }

    // A value that is not a structure; whole carries it when it is a whole number within 64 bits,
    // and text makes its text only when an array collects it.
    template <class MakeText> bool value(bool isNull, std::optional<std::int64_t> whole, MakeText text) {
        if (m_depth == 0)
            return false; // the line is no object
        if (m_depth == 2 && m_collecting) {
            m_collecting->push_back(text());
            return true;
        }
        if (m_depth != 1)
            return true;
        switch (m_field) {
        case Field::RecordNumber:
            m_hasRecordNumber = whole.has_value();
            m_record.RecordNumber = whole.value_or(0);
            return m_hasRecordNumber;
        case Field::EventCode:
            m_record.EventCode = whole;
            return whole.has_value();
        case Field::Data:
        case Field::InsertionStrings:
            if (!isNull)
                return false;
            (m_field == Field::Data ? m_record.Data : m_record.InsertionStrings).reset();
            return true;
        case Field::Other:
            return true;
        }
        return true;
    }

    ChannelRecordLine m_record;
    bool m_hasRecordNumber = false;
    int m_depth = 0;
    Field m_field = Field::Other;
    std::vector<std::string>* m_collecting = nullptr;
    bool m_needsTree = false;
};

std::optional<std::vector<std::string>> arrayTexts(const Json& record, const char* name, bool& valid) {
    const auto found = record.find(name);
    if (found == record.end() || found->is_null())
        return std::nullopt;
    if (!found->is_array()) {
        valid = false;
        return std::nullopt;
    }
    std::vector<std::string> texts;
    texts.reserve(found->size());
    for (const Json& element : *found)
        texts.push_back(elementText(element));
    return texts;
}

std::optional<ChannelRecordLine> parseThroughTree(std::string_view line) {
    const Json record = Json::parse(line, nullptr, false);
    if (!record.is_object())
        return std::nullopt;
    ChannelRecordLine parsed;
    const auto recordNumber = record.find("RecordNumber");
    const auto number = recordNumber == record.end() ? std::nullopt : wholeNumber(*recordNumber);
    if (!number)
        return std::nullopt;
    parsed.RecordNumber = *number;
    if (const auto eventCode = record.find("EventCode"); eventCode != record.end()) {
        parsed.EventCode = wholeNumber(*eventCode);
        if (!parsed.EventCode)
            return std::nullopt;
    }
    bool valid = true;
    parsed.Data = arrayTexts(record, "Data", valid);
    parsed.InsertionStrings = arrayTexts(record, "InsertionStrings", valid);
    if (!valid)
        return std::nullopt;
    return parsed;
}

} // namespace

std::optional<ChannelRecordLine> parseChannelRecordLine(std::string_view line) {
    RecordCollector collector;
    if (Json::sax_parse(line.begin(), line.end(), &collector))
        return collector.record();
    if (collector.needsTree())
        return parseThroughTree(line);
    return std::nullopt;
}

} // namespace ostrel::platform
