// The formula part of SwissKnife-like nodes: <pVariable Name="X">Node</pVariable>,
// <Constant Name="C">1.5</Constant>, <Expression Name="E">X*2</Expression> and the
// <Formula> itself, parsed when the node is resolved (syntax errors name file and line).
#pragma once

#include <string>
#include <vector>

#include "genapi/Formula.h"
#include "genapi/LoadContext.h"

namespace GenApi::detail {

class Node;

class FormulaVariables {
public:
    explicit FormulaVariables(Node& owner) : owner_(owner) {}

    // `formula_tag` is the element holding the main formula ("Formula").
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx, const char* formula_tag);
    void Resolve(LoadContext& ctx, const char* formula_tag);
    void CollectReferences(std::vector<Node*>& out) const;

    // Lock held. float_mode as in Formula::Evaluate.
    FormulaValue Evaluate(bool float_mode);

private:
    struct Variable {
        enum class Kind { Node, Constant, Expression } kind = Kind::Node;
        std::string name;
        NodeRef ref;
        FormulaValue constant;
        std::string text;
        int line = 0;
        Formula expression;
    };
    FormulaValue Value(int variable, bool float_mode);
    Formula Parse(const std::string& text, int line, LoadContext& ctx) const;

    Node& owner_;
    std::vector<Variable> variables_;
    std::string formula_text_;
    int formula_line_ = 0;
    bool has_formula_ = false;
    Formula formula_;
};

// True for nodes whose value is a float (formulas read them as floats).
bool IsFloatValued(const Node& node);

} // namespace GenApi::detail
