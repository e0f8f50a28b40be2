#include "persistence/LoadPlan.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include <GenApi/Pointer.h>
#include <GenICam/GCException.h>

#include "persistence/FeatureWalk.h"

namespace Pylon::persistence {

using namespace GenApi;

namespace {

[[noreturn]] void Refuse(const std::string& source, const Record& r, const std::string& problem) {
    throw INVALID_ARGUMENT_EXCEPTION("%s: line %d: feature '%s': %s", source.c_str(), r.line, r.name.c_str(),
                                     problem.c_str());
}

// Every node the value, limits or access of `node` read, directly or through others.
std::set<INode*> Reachable(INode* node) {
    std::set<INode*> seen{node};
    std::deque<INode*> queue{node};
    while (!queue.empty()) {
        INode* n = queue.front();
        queue.pop_front();
        NodeList_t children;
        n->GetChildren(children);
        for (INode* child : children)
            if (child && seen.insert(child).second)
                queue.push_back(child);
    }
    seen.erase(node);
    return seen;
}

bool IsNumeric(ValueKind kind) { return kind == ValueKind::Integer || kind == ValueKind::Float; }

} // namespace

LoadPlan::LoadPlan(INodeMap& map, std::vector<Record> records, std::string source) : source_(std::move(source)) {
    steps_.reserve(records.size());
    for (Record& r : records) {
        Step step;
        step.node = map.GetNode(r.name);
        if (!step.node)
            Refuse(source_, r, "no such feature in this camera");
        step.kind = KindOf(step.node);
        if (step.kind == ValueKind::None)
            Refuse(source_, r, "holds no value that can be loaded (a command or a category)");
        if (!r.selector.empty()) {
            INode* selector_node = map.GetNode(r.selector);
            step.selector = dynamic_cast<IEnumeration*>(selector_node);
            if (!step.selector)
                Refuse(source_, r, "no selector '" + r.selector + "' in this camera");
            if (!step.selector->GetEntryByName(r.entry))
                Refuse(source_, r, "selector '" + r.selector + "' has no entry '" + r.entry + "'");
        }
        std::string why;
        auto value = ParseText(step.node, step.kind, r.value, why);
        if (!value)
            Refuse(source_, r, why);
        step.value = std::move(*value);
        step.record = std::move(r);
        steps_.push_back(std::move(step));
    }
    Order();
}

std::vector<INode*> LoadPlan::Features() const {
    std::vector<INode*> out;
    for (const Step& s : steps_)
        if (std::find(out.begin(), out.end(), s.node) == out.end())
            out.push_back(s.node);
    return out;
}

void LoadPlan::Order() {
    // How many records each feature has, and which of them carry a plain value.
    std::map<INode*, std::size_t> total, placed;
    std::set<INode*> plain;
    for (const Step& s : steps_) {
        ++total[s.node];
        if (!s.selector)
            plain.insert(s.node);
    }
    // The features of this file each record must wait for.
    std::map<INode*, std::set<INode*>> reach_cache;
    std::vector<std::set<INode*>> waits(steps_.size());
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        auto it = reach_cache.find(steps_[i].node);
        if (it == reach_cache.end())
            it = reach_cache.emplace(steps_[i].node, Reachable(steps_[i].node)).first;
        for (INode* dep : it->second)
            if (total.count(dep))
                waits[i].insert(dep);
    }

    std::vector<std::size_t> remaining(steps_.size());
    for (std::size_t i = 0; i < remaining.size(); ++i)
        remaining[i] = i;
    auto ready = [&](std::size_t i) {
        return std::all_of(waits[i].begin(), waits[i].end(), [&](INode* dep) { return placed[dep] == total[dep]; });
    };
    while (!remaining.empty()) {
        auto pick = std::find_if(remaining.begin(), remaining.end(), ready);
        if (pick == remaining.end()) {
            // A cycle: take the first record in file order and move the features it waits
            // for out of the way when needed.
            pick = remaining.begin();
            Step& step = steps_[*pick];
            for (INode* dep : waits[*pick])
                if (placed[dep] != total[dep] && plain.count(dep) && IsNumeric(KindOf(dep)))
                    step.pre_min.push_back(dep);
            waits[*pick].clear();
        }
        order_.push_back(*pick);
        ++placed[steps_[*pick].node];
        remaining.erase(pick);
    }
}

std::vector<LoadPlan::Failure> LoadPlan::Apply(bool stop_at_failure) const {
    std::vector<Failure> failures;
    for (std::size_t i : order_) {
        const Step& step = steps_[i];
        try {
            std::optional<SelectorSwitch> on;
            if (step.selector)
                on.emplace(*step.selector, step.record.entry);
            // A value the camera already has is not written again: loading the settings in
            // force succeeds even while streaming locks some of them.
            if (ReadValue(step.node, step.kind) == std::optional<ParsedValue>(step.value))
                continue;
            if (!step.pre_min.empty() && !InsideLimits(step.node, step.kind, step.value))
                for (INode* dep : step.pre_min)
                    WriteMinimum(dep, KindOf(dep));
            WriteValue(step.node, step.kind, step.value, true);
        } catch (const GenICam::GenericException& e) {
            failures.push_back(Failure{&step.record, std::current_exception(), e.GetDescription()});
            if (stop_at_failure)
                break;
        }
    }
    return failures;
}

std::string DescribeFailure(const std::string& source, const LoadPlan::Failure& failure) {
    const Record& r = *failure.record;
    std::string text = source + ": line " + std::to_string(r.line) + ": feature '" + r.name + "'";
    if (!r.selector.empty())
        text += " {" + r.selector + "=" + r.entry + "}";
    // Register values can be kilobytes of hex: the start is enough to recognise the line.
    const std::string value = r.value.size() > 48 ? r.value.substr(0, 48) + "..." : r.value;
    return text + " = '" + value + "' failed: " + failure.description;
}

void RaiseLike(const std::exception_ptr& error, const std::string& description) {
    using namespace GenICam;
    try {
        std::rethrow_exception(error);
    } catch (const OutOfRangeException&) {
        throw OutOfRangeException(description, __FILE__, __LINE__);
    } catch (const AccessException&) {
        throw AccessException(description, __FILE__, __LINE__);
    } catch (const InvalidArgumentException&) {
        throw InvalidArgumentException(description, __FILE__, __LINE__);
    } catch (const LogicalErrorException&) {
        throw LogicalErrorException(description, __FILE__, __LINE__);
    } catch (const TimeoutException&) {
        throw TimeoutException(description, __FILE__, __LINE__);
    } catch (...) {
        throw RuntimeException(description, __FILE__, __LINE__);
    }
}

} // namespace Pylon::persistence
