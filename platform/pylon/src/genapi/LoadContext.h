// What node classes need while they are read from a camera description: texts and numbers
// of elements with error reports naming file and line, and references to other nodes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

namespace GenApi::detail {

class Node;
class NodeMapImpl;

// A reference to another node by name (pValue, pMin, pFeature, ...), linked after loading.
struct NodeRef {
    std::string name;
    int line = 0;
    Node* node = nullptr;
    bool IsSet() const noexcept { return !name.empty(); }
};

// A number given as a constant (<Min>) or by another node (<pMin>).
struct NumberRef {
    bool has_constant = false;
    bool is_float = false;
    int64_t i = 0;
    double f = 0;
    NodeRef ref;
    bool IsSet() const noexcept { return has_constant || ref.IsSet(); }
    int64_t Int() const;
    double Float() const;
};

class LoadContext {
public:
    LoadContext(NodeMapImpl& map, std::string source_name, const char* buffer, std::size_t size);

    NodeMapImpl& Map() const noexcept { return map_; }
    const std::string& SourceName() const noexcept { return source_name_; }
    int LineOf(const pugi::xml_node& node) const;
    int LineOfOffset(std::ptrdiff_t offset) const;

    // Throws RuntimeException "<source>:<line>: <problem>".
    [[noreturn]] void Fail(int line, const std::string& problem) const;
    [[noreturn]] void Fail(const pugi::xml_node& node, const std::string& problem) const;

    std::string Text(const pugi::xml_node& element) const; // trimmed
    int64_t Int(const pugi::xml_node& element) const;
    double Float(const pugi::xml_node& element) const;
    bool YesNo(const pugi::xml_node& element) const;
    NodeRef Ref(const pugi::xml_node& element) const;
    // A constant; an integer unless the text has a fraction or exponent (or `as_float`).
    NumberRef Number(const pugi::xml_node& element, bool as_float) const;
    template <class E>
    E Keyword(const pugi::xml_node& element, std::initializer_list<std::pair<const char*, E>> words) const {
        const std::string text = Text(element);
        for (const auto& [word, value] : words)
            if (text == word)
                return value;
        Fail(element, "bad value '" + text + "' in <" + element.name() + ">");
    }

    // Links a reference; fails naming the referring node when the target is missing or
    // (with `numeric`) cannot be read as a number.
    void Resolve(NodeRef& ref, const Node& from, const char* element, bool numeric) const;
    void Resolve(NumberRef& ref, const Node& from, const char* element) const;

    // A part of the description that is not read: told once per `kind` (an element or node
    // tag), with file and line, on stderr and in the node map's load warnings.
    void Warn(const std::string& kind, int line, const std::string& problem) const;

    // Adds a node made while loading (enumeration entries); fails on a duplicate name.
    Node& Add(std::unique_ptr<Node> node) const;

private:
    NodeMapImpl& map_;
    std::string source_name_;
    const char* buffer_;
    std::vector<std::size_t> line_starts_;
    mutable std::set<std::string> warned_; // kinds told already
};

// True for element names the GenICam schema defines (those a node kind does not interpret
// are ignored).
bool IsStandardElement(const std::string& name);

} // namespace GenApi::detail
