// handler_plan.cpp - prepares what the handler needs per input file: element names as
// numbers, the paths of columns and conditions, and per name what can happen there.

#include "convert/records/handler_plan.h"

#include "config/attribute.h"

namespace
{

// Files the measurement's columns and conditions under the number of the name their path
// ends with. The plan must stay where it is from here on: its columns point back to it.
void build_index(MEASUREMENT_PLAN *m, int name_count, std::deque<LIST_ITEMS> &lists)
{
    const size_t size = static_cast<size_t>(name_count);
    m->sound = m->node->type == tok::MEASUREMENT && m->columns != nullptr;
    m->end_columns.assign(size, {});
    m->start_columns.assign(size, {});
    m->end_conditions.assign(size, {});
    m->any_end_conditions.clear();
    m->visit_all_at_end = false;
    m->visit_all_at_start = false;
    m->changed_from = 0;
    m->lists.clear();
    for (size_t i = 0; i < m->column_plans.size(); ++i) {
        COLUMN_PLAN &column = m->column_plans[i];
        column.owner = m;
        column.position = static_cast<int>(i);
        const int type = column.node->type;
        const bool at_start = type == tok::ATTRIBUTE_ARG;
        const bool at_end = (column.node->is_element_kind() && !at_start) || column.node->is_list();
        if (column.node->is_list()) {
            lists.emplace_back();
            column.list = &lists.back();
            column.list->keyed =
                type == tok::ELEMENTLIST && column.node->sub_type == tok::ATTRIBUTE_ARG;
            m->lists.push_back(&column);
        }
        if (!column.node->is_column()) {
            m->visit_all_at_end = m->visit_all_at_start = true;
            continue;
        }
        if (!at_start && !at_end)
            continue;
        // A faulty path is reported at the first element start or end; a path of no
        // names matches everywhere.
        if (column.fault != PATH_FAULT::none || column.path.count <= 0) {
            (at_start ? m->visit_all_at_start : m->visit_all_at_end) = true;
            continue;
        }
        if (!column.path.complete)
            continue;
        auto &lists = at_start ? m->start_columns : m->end_columns;
        lists[static_cast<size_t>(column.path.last_id())].push_back(&column);
    }
    for (size_t i = 0; i < m->condition_paths.size(); ++i) {
        const ELEMENT_PATH &path = m->condition_paths[i];
        if (path.count <= 0)
            m->any_end_conditions.push_back(m->conditions[i]);
        else if (path.complete)
            m->end_conditions[static_cast<size_t>(path.last_id())].push_back(
                {m->conditions[i], &path});
    }
    m->void_first = !m->conditions.empty() && m->conditions.front()->type == tok::VOID;
}

} // namespace

int NAME_TABLE::add(const std::string &name)
{
    const int known = id({name.data(), static_cast<int>(name.size())});
    if (known != 0)
        return known;
    const size_t bucket = name.size() < LONG ? name.size() : LONG;
    by_length[bucket].push_back({name, next_id});
    return next_id++;
}

void ELEMENT_PATH::prepare(ATTRIBUTE *first, int pointer_count, NAME_TABLE &table)
{
    count = pointer_count;
    complete = true;
    ids.clear();
    ATTRIBUTE *node = first;
    for (int i = 0; i < count; ++i, node = node->next) {
        if (node == nullptr) {
            complete = false;
            break;
        }
        ids.push_back(table.add(node->name.toStdString()));
    }
}

bool ELEMENT_PATH::matches(const ELEMENT_STACK &open) const
{
    const int first = open.size() - count;
    if (first < 0)
        return false;
    if (count <= 0)
        return true;
    if (!complete)
        return false;
    // The innermost name differs most often, so it is compared first.
    for (int i = count - 1; i >= 0; --i) {
        if (open.id(first + i) != ids[static_cast<size_t>(i)])
            return false;
    }
    return true;
}

void prepare_measurement(MEASUREMENT_PLAN *plan, ATTRIBUTE *measurement, NAME_TABLE &names)
{
    plan->node = measurement;
    plan->columns = measurement->find(tok::COLUMNS);
    plan->match = measurement->find(tok::MATCH);
    plan->column_plans.clear();
    if (plan->columns != nullptr) {
        for (ATTRIBUTE *column = plan->columns->child; column != nullptr; column = column->next) {
            COLUMN_PLAN c;
            c.node = column;
            c.type = column->type;
            c.fault = column->child == nullptr              ? PATH_FAULT::missing
                      : column->child->type != tok::POINTER ? PATH_FAULT::not_pointer
                                                            : PATH_FAULT::none;
            c.path.prepare(column->child, column->pointer_count, names);
            c.argument = column->argument.toStdString();
            plan->column_plans.push_back(std::move(c));
        }
    }
    plan->conditions.clear();
    plan->condition_paths.clear();
    if (plan->match != nullptr) {
        for (ATTRIBUTE *item = plan->match->child; item != nullptr; item = item->next) {
            plan->conditions.push_back(item);
            plan->condition_paths.emplace_back();
            plan->condition_paths.back().prepare(item->child, item->pointer_count, names);
        }
    }
}

void LIST_ITEMS::index_keys()
{
    by_key.clear();
    for (size_t i = 0; i < keys.size(); ++i)
        by_key[piece(keys[i])] = static_cast<int>(i);
    unique_keys = by_key.size() == keys.size();
    indexed = true;
}

int LIST_ITEMS::find(std::string_view wanted)
{
    if (!indexed)
        index_keys();
    const auto found = by_key.find(wanted);
    return found == by_key.end() ? -1 : found->second;
}

// A value belongs to the element that carries it and to the one that holds that element:
// it is emptied where its path, or its path without the last name, starts. An element
// list collects the items of one holder, and starts anew with each holder.
void HANDLER_PLAN::file_start_work(MEASUREMENT_PLAN *m, bool empty_missing_values)
{
    for (COLUMN_PLAN &column : m->column_plans) {
        if (column.fault != PATH_FAULT::none || column.path.count <= 0 || !column.path.complete)
            continue;
        const int names = column.path.count;
        const auto empty_from = [&](int leading) {
            const size_t id =
                static_cast<size_t>(column.path.ids[static_cast<size_t>(leading - 1)]);
            clear_at_start[id].push_back({&column, leading});
            work_at_start[id] = true;
        };
        if ((column.node->is_element_kind() && empty_missing_values) ||
            column.type == tok::WORDLIST) {
            empty_from(names);
            if (names >= 2)
                empty_from(names - 1);
        } else if (column.type == tok::ELEMENTLIST) {
            if (names >= 2)
                empty_from(names - 1);
            if (column.list->keyed) {
                const size_t id = static_cast<size_t>(column.path.last_id());
                keys_at_start[id].push_back(&column);
                work_at_start[id] = true;
            }
        }
    }
}

MEASUREMENT_PLAN &HANDLER_PLAN::of(ATTRIBUTE *measurement)
{
    for (MEASUREMENT_PLAN &m : measurements) {
        if (m.node == measurement)
            return m;
    }
    for (MEASUREMENT_PLAN &m : others) {
        if (m.node == measurement)
            return m;
    }
    others.emplace_back();
    prepare_measurement(&others.back(), measurement, names);
    build_index(&others.back(), names.count(), lists);
    return others.back();
}

void HANDLER_PLAN::build(ATTRIBUTE *description, bool empty_missing_values)
{
    for (ATTRIBUTE *m = description != nullptr ? description->child : nullptr; m != nullptr;
         m = m->next) {
        measurements.emplace_back();
        prepare_measurement(&measurements.back(), m, names);
    }
    // Every name is numbered now; the indexes need the final count.
    const size_t name_count = static_cast<size_t>(names.count());
    measurements_at_start.assign(name_count, {});
    measurements_at_end.assign(name_count, {});
    start_captures.assign(name_count, {});
    start_captures_only.assign(name_count, true);
    clear_at_start.assign(name_count, {});
    keys_at_start.assign(name_count, {});
    work_at_start.assign(name_count, false);
    for (size_t index = 0; index < measurements.size(); ++index) {
        MEASUREMENT_PLAN &m = measurements[index];
        build_index(&m, names.count(), lists);
        file_start_work(&m, empty_missing_values);
        // Faults are reported at every element, and some conditions hold at every end.
        const bool faulty = m.node->type != tok::MEASUREMENT || m.columns == nullptr;
        const bool every_start = faulty || m.visit_all_at_start;
        const bool every_end = faulty || m.visit_all_at_end || m.match == nullptr ||
                               m.conditions.empty() || m.void_first ||
                               !m.any_end_conditions.empty();
        for (size_t id = 0; id < name_count; ++id) {
            if (every_start || !m.start_columns[id].empty()) {
                measurements_at_start[id].push_back(&m);
                start_captures[id].insert(start_captures[id].end(), m.start_columns[id].begin(),
                                          m.start_columns[id].end());
                if (every_start)
                    start_captures_only[id] = false;
            }
            if (every_end || !m.end_columns[id].empty() || !m.end_conditions[id].empty())
                measurements_at_end[id].push_back(&m);
        }
    }
}
