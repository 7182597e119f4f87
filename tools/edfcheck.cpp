// edfcheck: try an EDF address format the way a driver uses it.
//
// Shows how the format text parses (fields, layout, where a faulty text
// stops), checks addresses against it, and for each address shows the field
// values, the encoded bytes and the next addresses.
#include <kelvara/Kelvara.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char kUsage[] =
    "usage: edfcheck [options] FORMAT [ADDRESS...]\n"
    "\n"
    "Shows how an EDF address format parses, then checks each ADDRESS against it\n"
    "as a driver's CRemoteAddress does: field values, encoded bytes, next addresses.\n"
    "\n"
    "arguments:\n"
    "  FORMAT                 the format text; quote it, brackets and spaces are\n"
    "                         shell characters: '[T1(Area) D M X][N4D(Offset) 0 to 9999]'\n"
    "  ADDRESS                an address to check; '-' reads addresses from standard\n"
    "                         input, one per line\n"
    "\n"
    "options:\n"
    "  -a, --attributes TEXT  attribute text: per field a kind letter (U or I) and\n"
    "                         its size in the encoded address, 1, 2 or 4 bytes (U1U2)\n"
    "  -n, --next COUNT       step each valid address COUNT times (default 1, 0: none)\n"
    "  -q, --quiet            one line per address and nothing about the format\n"
    "  -h, --help             this text\n"
    "\n"
    "exit status: 0 when the format parses completely and every address is valid,\n"
    "1 when the format is incomplete or an address is not valid, 2 on bad usage.\n"
    "\n"
    "examples:\n"
    "  edfcheck '[T1(Area) D M X][N4D(Offset) 0 to 9999]' D0100 Q0100\n"
    "  edfcheck -a U1U2 -n 3 '[T1(Area) D M][+1N4D(Offset) 0 to 9999]' M9998\n"
    "  edfcheck '[N2D 1 to 99]:[N4H 0000 to FFFF]' - < addresses.txt\n";

struct Options {
    std::string format;
    std::string attributes;
    bool bAttributes = false;
    int nNext = 1;
    bool bQuiet = false;
    std::vector<std::string> addresses;
};

const char* CodeName(EDF_RET e) {
    switch (e) {
        case EDF_OK:
            return "EDF_OK";
        case EDF_NO_KEYWORD_MATCH:
            return "EDF_NO_KEYWORD_MATCH";
        case EDF_UNKNOWN_FIELD_NAME:
            return "EDF_UNKNOWN_FIELD_NAME";
        case EDF_UNKNOWN_FIELD_INDEX:
            return "EDF_UNKNOWN_FIELD_INDEX";
        case EDF_NOT_A_NUMBER:
            return "EDF_NOT_A_NUMBER";
        case EDF_NOT_A_KEYWORD:
            return "EDF_NOT_A_KEYWORD";
        case EDF_OUT_OF_RANGE:
            return "EDF_OUT_OF_RANGE";
        case EDF_TOO_SHORT:
            return "EDF_TOO_SHORT";
        case EDF_EXTRA_CHARACTERS:
            return "EDF_EXTRA_CHARACTERS";
        case EDF_LITERAL_MISMATCH:
            return "EDF_LITERAL_MISMATCH";
        case EDF_FAILED:
            return "EDF_FAILED";
    }
    return "unknown code";
}

const char* Explain(EDF_RET e) {
    switch (e) {
        case EDF_NO_KEYWORD_MATCH:
            return "no keyword of the field starts here";
        case EDF_UNKNOWN_FIELD_INDEX:
            return "the format holds no field for this place (a later field of the same "
                   "name replaced it)";
        case EDF_NOT_A_NUMBER:
            return "not a number in the field's radix";
        case EDF_NOT_A_KEYWORD:
            return "not one of the field's keywords (fixed-width keywords compare exactly)";
        case EDF_OUT_OF_RANGE:
            return "outside the field's ranges (the value must lie in every one)";
        case EDF_TOO_SHORT:
            return "the address ends inside the field";
        case EDF_EXTRA_CHARACTERS:
            return "characters left over after the end of the format";
        case EDF_LITERAL_MISMATCH:
            return "the address does not repeat the format's literal character";
        case EDF_FAILED:
            return "the field has an unknown type";
        default:
            return "";
    }
}

// Text with control and non-ASCII bytes escaped, so positions line up.
std::string Printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

// The text with a caret under position nPosition, clipped around it.
void PrintCaret(const std::string& text, size_t nPosition, const char* pszIndent) {
    const size_t kContext = 40;
    const size_t nFrom = nPosition > kContext ? nPosition - kContext : 0;
    const size_t nTo = std::min(text.size(), nPosition + kContext);
    const std::string before =
        (nFrom ? "..." : "") + Printable(text.substr(nFrom, nPosition - nFrom));
    const std::string after =
        Printable(text.substr(nPosition, nTo - nPosition)) + (nTo < text.size() ? "..." : "");
    std::printf("%s%s%s\n%s%s^\n", pszIndent, before.c_str(), after.c_str(), pszIndent,
                std::string(before.size(), ' ').c_str());
}

std::string FieldLabel(const CEDFField& field) {
    return "#" + std::to_string(field.m_nIndex) + " " + field.m_strName.str();
}

std::string DescribeList(const CEDFField& field) {
    std::string out;
    const int n = field.m_Ranges.GetSize();
    for (int i = 0; i < n; ++i) {
        const CEDFRange* r = field.m_Ranges.GetAt(i);
        if (field.m_cType == 'N') {
            out += (i ? ", " : "") + r->m_strLow.str() + " to " + r->m_strHigh.str();
        } else {
            out += (i ? " | " : "") + (r->m_strLow.IsEmpty() ? "(empty)" : r->m_strLow.str());
        }
    }
    if (field.m_cType == 'N' && n > 1) {
        out += " (all must hold)";
    }
    return out;
}

std::string DescribeField(const CEDFField& field, bool bAttributes) {
    std::string out = field.m_cType == 'N' ? "number" : "keyword";
    out += field.m_nWidth < 0 ? ", variable width" : ", width " + std::to_string(field.m_nWidth);
    if (field.m_cType == 'N' || field.m_nRadix != 10) {
        out += field.m_nRadix == 16  ? ", hexadecimal"
               : field.m_nRadix == 8 ? ", octal"
                                     : ", decimal";
    }
    if (field.m_cType == 'T' && field.m_nWidth < 0) {
        out += field.m_bCaseSensitive ? ", exact case" : ", any case";
    }
    if (field.m_bIncrement) {
        out += ", steps by " + std::string(field.m_nStep >= 0 ? "+" : "") +
               std::to_string(field.m_nStep);
    }
    if (field.m_bFree) {
        out += ", free (taken unchecked)";
    } else {
        out += ": " + DescribeList(field);
    }
    if (bAttributes) {
        const int n = field.m_nEncodedSize;
        out += "; encoded ";
        out += (n == 1 || n == 2 || n == 4)
                   ? std::to_string(n) + (n == 1 ? " byte" : " bytes")
                   : "size " + std::to_string(n) + " (must be 1, 2 or 4: Compress fails)";
        if (field.m_cType != 'N' && (n == 2 || n == 4)) {
            out += " (a keyword takes 1 byte or none: nothing is encoded)";
        }
        out += field.m_bKindI ? ", kind I" : ", kind U";
    }
    return out;
}

std::string DescribeLayout(const CEDFFormat& format) {
    std::string out;
    const CString& layout = format.m_strLayout;
    int nField = 1;
    for (int i = 0; i < layout.GetLength(); ++i) {
        if (layout[i] == 'L') {
            out += Printable(std::string(1, layout[++i]));
            continue;
        }
        const CEDFField* pField = format.m_Fields.FindIndex(nField);
        out +=
            "<" + (pField ? pField->m_strName.str() : "missing #" + std::to_string(nField)) + ">";
        ++nField;
    }
    return out.empty() ? "(empty: only the empty address is valid)" : out;
}

bool ShowFormat(const CEDFFormat& format, const Options& options) {
    const CEDFFormat::ParseReport& report = format.GetParseReport();
    std::printf("format      %s\n", Printable(options.format).c_str());
    if (options.bAttributes) {
        std::printf("attributes  %s\n", Printable(options.attributes).c_str());
    }
    if (report.Succeeded()) {
        std::printf("parse       complete\n");
    } else {
        std::printf("parse       STOPPED at column %d: %s\n", report.nStopPosition + 1,
                    report.pszStopReason);
        PrintCaret(options.format, static_cast<size_t>(report.nStopPosition), "            ");
        std::printf(
            "            (the format keeps the fields before this point; addresses are\n"
            "            checked against them, and the driver is not told)\n");
    }
    for (const CEDFFormat::ParseNote& note : report.notes) {
        std::printf("note        column %d: %s\n", note.nPosition + 1, note.pszText);
    }
    std::printf("layout      %s\n", DescribeLayout(format).c_str());
    std::printf("fields      %d\n", format.m_Fields.GetCount());
    for (const auto& entry : format.m_Fields) {
        const CEDFField& field = *entry.second;
        std::printf("  %-12s %s\n", FieldLabel(field).c_str(),
                    DescribeField(field, options.bAttributes).c_str());
    }
    if (!options.bAttributes && !format.m_Fields.IsEmpty()) {
        std::printf(
            "            (no attribute text: give -a, e.g. -a U1U2, to see the encoding)\n");
    }
    return report.Succeeded();
}

// Where the check of an address fails, found through the public field
// operations the way a driver could: column and the part of the format.
struct Failure {
    size_t nColumn = 0;
    std::string where;
    std::string field;  // what the failing field accepts
};

Failure Locate(const CEDFFormat& format, const std::string& address, EDF_RET result) {
    Failure f;
    const CString& layout = format.m_strLayout;
    int nField = 1;
    for (int i = 0; i < layout.GetLength(); ++i) {
        if (layout[i] == 'L') {
            const char c = layout[++i];
            if (f.nColumn >= address.size() || address[f.nColumn] != c) {
                f.where = "at the literal '" + Printable(std::string(1, c)) + "'";
                return f;
            }
            ++f.nColumn;
            continue;
        }
        CString value;
        const CEDFField* pField = format.m_Fields.FindIndex(nField);
        if (format.Field(address.c_str(), nField, value) != EDF_OK) {
            f.where = "in field " + (pField ? FieldLabel(*pField) : "#" + std::to_string(nField));
            if (pField) {
                f.field = DescribeField(*pField, false);
            }
            return f;
        }
        f.nColumn += static_cast<size_t>(value.GetLength());
        ++nField;
    }
    f.where = result == EDF_EXTRA_CHARACTERS ? "after the end of the format" : "";
    return f;
}

void ShowFields(const CRemoteAddress& address) {
    for (const auto& entry : address.m_Format.m_Fields) {
        const CEDFField& field = *entry.second;
        CString value;
        address.Field(entry.first, value);
        std::string line = "\"" + Printable(value.str()) + "\"";
        if (field.m_cType == 'T' && !field.m_bFree) {
            int nKeyword = -1;
            address.Field(entry.first, &nKeyword);
            line += "  keyword " + std::to_string(nKeyword);
        }
        std::printf("  %-12s %s\n", FieldLabel(field).c_str(), line.c_str());
    }
}

void ShowEncoding(const CRemoteAddress& address) {
    CByteArray encoded;
    const EDF_RET result = address.Compress(encoded);
    std::string bytes;
    for (const BYTE b : encoded) {
        char buf[4];
        std::snprintf(buf, sizeof buf, bytes.empty() ? "%02X" : " %02X", b);
        bytes += buf;
    }
    std::printf("  encoded      %s", bytes.empty() ? "(no bytes)" : bytes.c_str());
    if (result != EDF_OK) {
        std::printf("  %s: a field's encoded size is not 1, 2 or 4", CodeName(result));
    }
    std::printf("\n");
}

void ShowNext(const CRemoteAddress& address, int nCount) {
    if (nCount <= 0) {
        return;
    }
    if (!address.IsAutoIncrementable()) {
        std::printf("  next         none: no field of the format has a step such as [+1N4D ...]\n");
        return;
    }
    CRemoteAddress current(address);
    for (int i = 0; i < nCount; ++i) {
        CRemoteAddress next;
        const EDF_RET stepped = current.GetNextAddress(next);
        if (stepped != EDF_OK) {
            std::printf("  next         %s\n", CodeName(stepped));
            return;
        }
        const EDF_RET result = next.Validate();
        std::printf("  next         \"%s\"  %s\n", Printable(next.GetAddress().str()).c_str(),
                    result == EDF_OK ? "valid" : CodeName(result));
        if (result != EDF_OK) {
            std::printf("               (not valid: the run of addresses ends here)\n");
            return;
        }
        current = next;
    }
}

bool CheckAddress(const Options& options, const std::string& text) {
    CRemoteAddress address(text.c_str(), options.format.c_str(), options.attributes.c_str());
    const EDF_RET result = address.Validate();
    const std::string shown = Printable(text);
    if (result == EDF_OK) {
        std::printf(options.bQuiet ? "%s: valid\n" : "\naddress \"%s\": valid\n", shown.c_str());
        if (!options.bQuiet) {
            ShowFields(address);
            if (options.bAttributes) {
                ShowEncoding(address);
            }
            ShowNext(address, options.nNext);
        }
        return true;
    }
    const Failure failure = Locate(address.m_Format, text, result);
    if (options.bQuiet) {
        std::printf("%s: %s (%d) at column %zu\n", shown.c_str(), CodeName(result),
                    static_cast<int>(result), failure.nColumn + 1);
        return false;
    }
    std::printf("\naddress \"%s\": %s (%d)\n", shown.c_str(), CodeName(result),
                static_cast<int>(result));
    if (failure.where.empty()) {
        std::printf("  %s\n", Explain(result));
    } else {
        std::printf("  %s: %s\n", failure.where.c_str(), Explain(result));
    }
    PrintCaret(text, failure.nColumn, "  ");
    if (!failure.field.empty()) {
        std::printf("  the field takes a %s\n", failure.field.c_str());
    }
    return false;
}

int Usage(const char* pszProblem) {
    std::fprintf(stderr, "edfcheck: %s\n\n%s", pszProblem, kUsage);
    return 2;
}

// 0 parsed, 1 help shown, 2 bad usage.
int ParseArguments(int argc, char** argv, Options& options) {
    bool bFormat = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 1;
        }
        if (arg == "-q" || arg == "--quiet") {
            options.bQuiet = true;
        } else if (arg == "-a" || arg == "--attributes" || arg == "-n" || arg == "--next") {
            if (i + 1 >= argc) {
                return Usage(("option " + std::string(arg) + " needs a value").c_str());
            }
            const char* value = argv[++i];
            if (arg == "-a" || arg == "--attributes") {
                options.attributes = value;
                options.bAttributes = true;
            } else {
                char* end = nullptr;
                const long n = std::strtol(value, &end, 10);
                if (*value == '\0' || *end != '\0' || n < 0 || n > 100000) {
                    return Usage("the count of -n is a number from 0 to 100000");
                }
                options.nNext = static_cast<int>(n);
            }
        } else if (arg.size() > 1 && arg[0] == '-' && bFormat) {
            return Usage(("unknown option " + std::string(arg)).c_str());
        } else if (!bFormat) {
            if (arg.size() > 1 && arg[0] == '-' && arg[1] != '[') {
                return Usage(("unknown option " + std::string(arg)).c_str());
            }
            options.format = std::string(arg);
            bFormat = true;
        } else {
            options.addresses.emplace_back(arg);
        }
    }
    if (!bFormat) {
        return Usage("no FORMAT given");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, options);
    if (parsed != 0) {
        return parsed == 1 ? 0 : 2;
    }
    CEDFFormat format(options.format.c_str(), options.attributes.c_str());
    format.ValidateFormat();
    bool bAllGood = format.GetParseReport().Succeeded();
    if (!options.bQuiet) {
        ShowFormat(format, options);
    } else if (!bAllGood) {
        std::printf("format: parse stopped at column %d: %s\n",
                    format.GetParseReport().nStopPosition + 1,
                    format.GetParseReport().pszStopReason);
    }
    for (const std::string& address : options.addresses) {
        if (address != "-") {
            bAllGood = CheckAddress(options, address) && bAllGood;
            continue;
        }
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            bAllGood = CheckAddress(options, line) && bAllGood;
        }
    }
    return bAllGood ? 0 : 1;
}
