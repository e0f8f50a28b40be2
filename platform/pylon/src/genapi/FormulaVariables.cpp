#include "genapi/FormulaVariables.h"

#include <GenICam/GCException.h>

#include "genapi/Node.h"

namespace GenApi::detail {

bool FormulaVariables::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    const std::string tag = element.name();
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        if (tag == tags_[i]) {
            formulas_[i].text = ctx.Text(element);
            formulas_[i].line = ctx.LineOf(element);
            formulas_[i].present = true;
            return true;
        }
    }
    if (tag != "pVariable" && tag != "Constant" && tag != "Expression")
        return false;
    Variable v;
    v.name = element.attribute("Name").value();
    v.line = ctx.LineOf(element);
    if (v.name.empty())
        ctx.Fail(element, "node '" + owner_.Name() + "': <" + tag + "> without Name attribute");
    for (const auto& other : variables_)
        if (other.name == v.name)
            ctx.Fail(element, "node '" + owner_.Name() + "': variable '" + v.name + "' defined twice");
    if (tag == "pVariable") {
        v.kind = Variable::Kind::Node;
        v.ref = ctx.Ref(element);
    } else if (tag == "Constant") {
        v.kind = Variable::Kind::Constant;
        const NumberRef number = ctx.Number(element, false);
        v.constant = number.is_float ? FormulaValue::Float(number.f) : FormulaValue::Int(number.i);
    } else {
        v.kind = Variable::Kind::Expression;
        v.text = ctx.Text(element);
    }
    variables_.push_back(std::move(v));
    return true;
}

Formula FormulaVariables::Parse(const std::string& text, int line, LoadContext& ctx) const {
    auto lookup = [this](const std::string& name) {
        for (std::size_t i = 0; i < variables_.size(); ++i)
            if (variables_[i].name == name)
                return static_cast<int>(i);
        return -1;
    };
    try {
        return Formula::Parse(text, lookup);
    } catch (const FormulaError& e) {
        ctx.Fail(line, "node '" + owner_.Name() + "': " + e.what());
    }
}

void FormulaVariables::Resolve(LoadContext& ctx) {
    for (const auto& name : specials_) {
        bool defined = false;
        for (const auto& v : variables_)
            defined = defined || v.name == name;
        if (!defined) {
            Variable v;
            v.kind = Variable::Kind::Special;
            v.name = name;
            variables_.push_back(std::move(v));
        }
    }
    for (auto& v : variables_) {
        if (v.kind == Variable::Kind::Node)
            ctx.Resolve(v.ref, owner_, "pVariable", true);
        else if (v.kind == Variable::Kind::Expression)
            v.expression = Parse(v.text, v.line, ctx);
    }
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        if (!formulas_[i].present)
            ctx.Fail(owner_.Line(), "node '" + owner_.Name() + "': <" + tags_[i] + "> missing");
        formulas_[i].formula = Parse(formulas_[i].text, formulas_[i].line, ctx);
    }
}

EAccessMode FormulaVariables::Access() const {
    for (const auto& v : variables_)
        if (v.ref.node && !IsReadable(v.ref.node->GetAccessMode()))
            return NA;
    return RO;
}

void FormulaVariables::CollectReferences(std::vector<Node*>& out) const {
    for (const auto& v : variables_)
        if (v.ref.node)
            out.push_back(v.ref.node);
}

FormulaValue FormulaVariables::Value(int variable, bool float_mode, const FormulaValue& special) {
    Variable& v = variables_[static_cast<std::size_t>(variable)];
    EvaluationDepth depth(owner_);
    switch (v.kind) {
    case Variable::Kind::Node:
        if (float_mode || IsFloatValued(*v.ref.node))
            return FormulaValue::Float(v.ref.node->ReadFloat());
        return FormulaValue::Int(v.ref.node->ReadInt());
    case Variable::Kind::Constant:
        return v.constant;
    case Variable::Kind::Expression:
        return v.expression.Evaluate([&](int i) { return Value(i, float_mode, special); }, float_mode);
    case Variable::Kind::Special:
        return float_mode ? FormulaValue::Float(special.AsFloat()) : special;
    }
    return FormulaValue::Int(0);
}

FormulaValue FormulaVariables::Evaluate(bool float_mode, std::size_t which, FormulaValue special) {
    EvaluationDepth depth(owner_);
    const Text& f = formulas_.at(which);
    try {
        return f.formula.Evaluate([&](int i) { return Value(i, float_mode, special); }, float_mode);
    } catch (const FormulaError& e) {
        throw RUNTIME_EXCEPTION("Node '%s': %s in formula '%s'", owner_.Name().c_str(), e.what(), f.text.c_str());
    }
}

} // namespace GenApi::detail

namespace GenApi::detail {
bool IsFloatValued(const Node& node) { return dynamic_cast<const IFloat*>(&node) != nullptr; }
} // namespace GenApi::detail
