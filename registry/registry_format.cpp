#include "registry/registry_format.h"

#include <algorithm>

namespace {

const char HeaderText[] = "[[software]]";

bool Contains(const std::string& line, const char* text)
{
    return line.find(text) != std::string::npos;
}

// Everything after the first '=' is the value, comments and all; quotes are
// dropped wherever they stand and only the start is trimmed. A key line without
// '=' leaves the field as it was (which the quote and trim steps cannot change,
// since a field never holds a quote or a leading blank).
void ApplyValue(const std::string& line, std::string& field)
{
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
        field.assign(line, equals + 1, std::string::npos);
    field.erase(std::remove(field.begin(), field.end(), '"'), field.end());
    const size_t firstKept = field.find_first_not_of(" \t");
    field.erase(0, firstKept == std::string::npos ? field.size() : firstKept);
}

void ApplyLine(const std::string& line, SoftwareEntry& pending, std::vector<SoftwareEntry>& entries)
{
    // First match wins, so "name" inside a product_id line sets the name.
    if (Contains(line, HeaderText)) {
        if (!pending.product_id.empty())
            entries.push_back(pending);
        pending = SoftwareEntry();
    } else if (Contains(line, "name")) {
        ApplyValue(line, pending.name);
    } else if (Contains(line, "product_id")) {
        ApplyValue(line, pending.product_id);
    } else if (Contains(line, "distributor_id")) {
        ApplyValue(line, pending.distributor_id);
    }
}

void AppendKeyLine(std::string& out, const char* key, const std::string& value)
{
    out += key;
    out += " = \"";
    out += value;
    out += "\"\r\n";
}

}  // namespace

std::vector<SoftwareEntry> ParseSoftwareRegistry(const std::string& fileBytes)
{
    // A text-mode stream reports end of file at the first 0x1A.
    const size_t end = std::min(fileBytes.find('\x1A'), fileBytes.size());

    std::vector<SoftwareEntry> entries;
    SoftwareEntry pending;
    size_t start = 0;
    while (start < end) {
        size_t lineFeed = fileBytes.find('\n', start);
        if (lineFeed > end)
            lineFeed = end;
        size_t lineEnd = lineFeed;
        // Only a CR that forms a CR LF pair disappears; a lone CR, also one
        // right before the cut at 0x1A or the end of the file, is an ordinary byte.
        if (lineFeed < end && lineEnd > start && fileBytes[lineEnd - 1] == '\r')
            --lineEnd;
        ApplyLine(fileBytes.substr(start, lineEnd - start), pending, entries);
        start = lineFeed + 1;
    }
    if (!pending.product_id.empty())
        entries.push_back(pending);
    return entries;
}

std::string FormatSoftwareRegistry(const std::vector<SoftwareEntry>& entries)
{
    std::string out;
    for (const SoftwareEntry& entry : entries) {
        out += HeaderText;
        out += "\r\n";
        AppendKeyLine(out, "name", entry.name);
        AppendKeyLine(out, "product_id", entry.product_id);
        AppendKeyLine(out, "distributor_id", entry.distributor_id);
    }
    return out;
}
