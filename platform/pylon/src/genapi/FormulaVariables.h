// The formula part of SwissKnife-like nodes: <pVariable Name="X">Node</pVariable>,
// <Constant Name="C">1.5</Constant>, <Expression Name="E">X*2</Expression> and the
// formulas themselves (<Formula>; converters: <FormulaTo>, <FormulaFrom>), parsed when the
// node is resolved (syntax errors name file and line). Converters also have the special
// variables TO and FROM, whose value is given at evaluation.
#pragma once

#include <GenApi/Types.h>
#include <string>
#include <vector>

#include "genapi/Formula.h"
#include "genapi/LoadContext.h"

namespace GenApi::detail {

class Node;

class FormulaVariables {
public:
    // `formula_tags` are the elements holding formulas; each must be present.
    explicit FormulaVariables(Node& owner, std::vector<std::string> formula_tags,
                              std::vector<std::string> specials = {})
        : owner_(owner), tags_(std::move(formula_tags)), specials_(std::move(specials)) {}

    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx);
    void Resolve(LoadContext& ctx);
    void CollectReferences(std::vector<Node*>& out) const;
    // RO, or NA while a variable's node cannot be read (chunk data without a chunk, a
    // register the camera does not offer now): the formula has no value then.
    GenApi::EAccessMode Access() const;

    // Lock held. Evaluates formula number `which` (index into formula_tags); `special` is the
    // value of the special variables. float_mode as in Formula::Evaluate.
    FormulaValue Evaluate(bool float_mode, std::size_t which = 0, FormulaValue special = {});

private:
    struct Variable {
        enum class Kind { Node, Constant, Expression, Special } kind = Kind::Node;
        std::string name;
        NodeRef ref;
        FormulaValue constant;
        std::string text;
        int line = 0;
        Formula expression;
    };
    struct Text {
        std::string text;
        int line = 0;
        bool present = false;
        Formula formula;
    };
    FormulaValue Value(int variable, bool float_mode, const FormulaValue& special);
    Formula Parse(const std::string& text, int line, LoadContext& ctx) const;

    Node& owner_;
    std::vector<std::string> tags_;
    std::vector<std::string> specials_;
    std::vector<Variable> variables_;
    std::vector<Text> formulas_ = std::vector<Text>(tags_.size());
};

// True for nodes whose value is a float (formulas read them as floats).
bool IsFloatValued(const Node& node);

} // namespace GenApi::detail
