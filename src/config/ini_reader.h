#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <vector>

// One node of an INI tree. Nesting is expressed in the text by the number of brackets around a
// section name ("[a]", "[[b]]"). Names and values are case-sensitive byte strings.
struct IniSection {
    std::map<std::string, std::string> values;
    std::map<std::string, std::unique_ptr<IniSection>> sections;
    std::vector<const std::string*> keyOrder;  // keys in order of first appearance (point into values)
    std::vector<IniSection*> sectionOrder;     // children in order of their headers
    IniSection* parent = nullptr;
    // 0 for the root, and for a child that was only looked up, never opened by a header.
    int32_t depth = 0;

    // Never fail: a missing child or key is added empty (and left out of the order lists), so
    // callers treat a missing key and an empty value alike.
    IniSection& section(const std::string& name);
    std::string& value(const std::string& key);
};

// Reads a whole byte stream into a tree of sections. A syntax error throws std::runtime_error
// with a message such as "no '=' found on line #3"; no partial document is ever handed out.
class IniDocument {
public:
    explicit IniDocument(std::istream& input);

    IniSection root;

private:
    void parseLine();

    std::istream& input;
    std::string line;
    int32_t lineNumber = 0;
    IniSection* current = &root;
};
