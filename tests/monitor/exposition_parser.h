#pragma once

// A strict reader of the Prometheus text exposition format 0.0.4, for tests:
// every sample belongs to a family announced by HELP and TYPE, names and
// label names follow the format's grammar, label values use only its three
// escapes, values are numbers, and no series appears twice.

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace vireo::test {

struct Exposition
{
    std::string error;                        // empty when the text is valid
    std::map<std::string, std::string> types; // family -> type
    // Series key: name{label="value",...} with labels in text order and
    // values unescaped.
    std::map<std::string, double> samples;

    double Value(const std::string& key) const
    {
        auto it = samples.find(key);
        return it == samples.end() ? -1.0 : it->second;
    }
    bool Has(const std::string& key) const { return samples.count(key) != 0; }
};

inline bool IsMetricName(const std::string& name)
{
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) {
        return false;
    }
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != ':') {
            return false;
        }
    }
    return true;
}

inline Exposition ParseExposition(const std::string& text)
{
    Exposition out;
    std::set<std::string> helped;
    std::string current; // family of the latest TYPE line
    auto fail = [&](int lineNumber, const std::string& why) {
        out.error = "line " + std::to_string(lineNumber) + ": " + why;
        return out;
    };
    if (text.empty() || text.back() != '\n') {
        return fail(0, "text does not end with a line feed");
    }
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) {
            return fail(number, "empty line");
        }
        if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
            const bool help = line[2] == 'H';
            const std::string rest = line.substr(7);
            const size_t space = rest.find(' ');
            const std::string name = rest.substr(0, space);
            if (!IsMetricName(name) || space == std::string::npos) {
                return fail(number, "bad HELP/TYPE line");
            }
            if (help) {
                if (!helped.insert(name).second) {
                    return fail(number, "second HELP for " + name);
                }
            } else {
                const std::string type = rest.substr(space + 1);
                if (type != "gauge" && type != "counter" && type != "untyped") {
                    return fail(number, "unknown type " + type);
                }
                if (!out.types.emplace(name, type).second) {
                    return fail(number, "second TYPE for " + name);
                }
                if (type == "counter" &&
                    (name.size() < 6 || name.substr(name.size() - 6) != "_total")) {
                    return fail(number, "counter without _total: " + name);
                }
                current = name;
            }
            continue;
        }
        if (line[0] == '#') {
            continue; // a comment
        }
        size_t i = 0;
        while (i < line.size() && line[i] != '{' && line[i] != ' ') {
            ++i;
        }
        const std::string name = line.substr(0, i);
        if (!IsMetricName(name)) {
            return fail(number, "bad metric name");
        }
        if (name != current || !helped.count(name)) {
            return fail(number, name + " outside its family or without HELP and TYPE");
        }
        std::string key = name;
        if (i < line.size() && line[i] == '{') {
            key += '{';
            ++i;
            bool first = true;
            std::set<std::string> labelNames;
            while (i < line.size() && line[i] != '}') {
                if (!first) {
                    if (line[i] != ',') {
                        return fail(number, "labels not separated by a comma");
                    }
                    ++i;
                    key += ',';
                }
                first = false;
                size_t start = i;
                while (i < line.size() && line[i] != '=') {
                    ++i;
                }
                const std::string label = line.substr(start, i - start);
                if (!IsMetricName(label) || label.find(':') != std::string::npos ||
                    !labelNames.insert(label).second) {
                    return fail(number, "bad or repeated label name '" + label + "'");
                }
                if (i + 1 >= line.size() || line[i + 1] != '"') {
                    return fail(number, "label value not quoted");
                }
                i += 2;
                std::string value;
                for (;; ++i) {
                    if (i >= line.size()) {
                        return fail(number, "label value not closed");
                    }
                    if (line[i] == '"') {
                        ++i;
                        break;
                    }
                    if (line[i] == '\\') {
                        ++i;
                        if (i >= line.size()) {
                            return fail(number, "escape at the end");
                        }
                        const char e = line[i];
                        if (e == 'n') {
                            value += '\n';
                        } else if (e == '\\' || e == '"') {
                            value += e;
                        } else {
                            return fail(number, std::string("bad escape \\") + e);
                        }
                    } else {
                        value += line[i];
                    }
                }
                key += label + "=\"" + value + "\"";
            }
            if (i >= line.size()) {
                return fail(number, "labels not closed");
            }
            ++i;
            key += '}';
        }
        if (i >= line.size() || line[i] != ' ') {
            return fail(number, "no space before the value");
        }
        const std::string valueText = line.substr(i + 1);
        char* end = nullptr;
        const double value = std::strtod(valueText.c_str(), &end);
        if (valueText.empty() || *end != '\0') {
            return fail(number, "value is not a number: " + valueText);
        }
        if (!out.samples.emplace(key, value).second) {
            return fail(number, "series repeated: " + key);
        }
    }
    return out;
}

} // namespace vireo::test
