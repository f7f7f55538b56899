// handler_plan.cpp - prepares what the handler needs per input file: element names as
// numbers, the paths of columns and conditions, and per name what can happen there.

#include "convert/records/handler_plan.h"

#include <algorithm>

#include "config/attribute.h"
#include "convert/records/time_values.h"

namespace
{

// The length of the UTF-8 character that starts at text[at]: its first byte and the
// continuation bytes after it.
size_t char_length(std::string_view text, size_t at)
{
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        ++end;
    return end - at;
}

char32_t code_point(std::string_view text, size_t at, size_t length)
{
    const unsigned char first = static_cast<unsigned char>(text[at]);
    if (length == 1)
        return first;
    char32_t value = first & (0x7F >> length);
    for (size_t k = 1; k < length; ++k)
        value = (value << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    return value;
}

// The set that starts at pattern[at], just after its [: whether it holds c. `end` is set
// to the place after its ], or to npos when the set is never closed.
bool set_holds(std::string_view pattern, size_t at, char32_t c, size_t *end)
{
    const bool negated = at < pattern.size() && pattern[at] == '!';
    if (negated)
        ++at;
    bool found = false;
    // A ] right at the start belongs to the set, as in shells.
    for (bool first = true; at < pattern.size(); first = false) {
        if (pattern[at] == ']' && !first) {
            *end = at + 1;
            return found != negated;
        }
        size_t length = char_length(pattern, at);
        const char32_t low = code_point(pattern, at, length);
        at += length;
        char32_t high = low;
        if (at + 1 < pattern.size() && pattern[at] == '-' && pattern[at + 1] != ']') {
            length = char_length(pattern, at + 1);
            high = code_point(pattern, at + 1, length);
            at += 1 + length;
        }
        found = found || (low <= c && c <= high);
    }
    *end = std::string_view::npos;
    return false;
}

// A faulty path is reported at every element, and a path of no names matches every
// element: such a column is looked at whatever the element's name.
bool accepts_every_id(const COLUMN_PLAN &column)
{
    return column.fault != PATH_FAULT::none || column.path.count <= 0;
}

// What a measurement's columns are, whatever the names: their place, their lists, and
// whether the measurement must look at every column at every element.
void index_columns(MEASUREMENT_PLAN *m, std::deque<LIST_ITEMS> &lists)
{
    m->sound = m->node->type == tok::MEASUREMENT && m->columns != nullptr;
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
        // An ELEMENTNAME column is taken care of with the work at an element's start.
        if (type == tok::ELEMENTNAME || !accepts_every_id(column))
            continue;
        if (column.from_attribute)
            m->visit_all_at_start = true;
        else if (column.node->is_element_kind() || column.node->is_list())
            m->visit_all_at_end = true;
    }
    for (size_t i = 0; i < m->condition_paths.size(); ++i) {
        if (m->condition_paths[i].count <= 0)
            m->any_end_conditions.push_back(m->conditions[i]);
    }
    m->void_first = !m->conditions.empty() && m->conditions.front()->type == tok::VOID;
}

// Files the measurement's columns and conditions under the numbers in [from, to) that the
// last name of their path accepts, in the order of the description. The plan must stay
// where it is from here on: its columns point back to it.
void file_columns(MEASUREMENT_PLAN *m, const NAME_TABLE &names, int from, int to)
{
    const size_t size = static_cast<size_t>(to);
    m->end_columns.resize(size);
    m->start_columns.resize(size);
    m->end_conditions.resize(size);
    for (COLUMN_PLAN &column : m->column_plans) {
        const int type = column.node->type;
        const bool at_start = column.from_attribute;
        const bool at_end =
            (column.node->is_element_kind() && !at_start && type != tok::ELEMENTNAME) ||
            column.node->is_list();
        if ((!at_start && !at_end) || accepts_every_id(column) || !column.path.complete)
            continue;
        auto &lists = at_start ? m->start_columns : m->end_columns;
        names.each_id(column.path.last_id(), from, to,
                      [&](int id) { lists[static_cast<size_t>(id)].push_back(&column); });
    }
    for (size_t i = 0; i < m->condition_paths.size(); ++i) {
        const ELEMENT_PATH &path = m->condition_paths[i];
        if (path.count <= 0 || !path.complete)
            continue;
        names.each_id(path.last_id(), from, to, [&](int id) {
            m->end_conditions[static_cast<size_t>(id)].push_back({m->conditions[i], &path});
        });
    }
}

} // namespace

bool is_name_pattern(std::string_view name)
{
    return name.find_first_of("*?[") != std::string_view::npos;
}

bool name_matches_pattern(std::string_view pattern, std::string_view name)
{
    size_t p = 0;
    size_t n = 0;
    // Where the last * was, and the place in the name it has taken up to.
    size_t star = std::string_view::npos;
    size_t star_to = 0;
    while (n < name.size()) {
        if (p < pattern.size()) {
            const char c = pattern[p];
            const size_t length = char_length(name, n);
            if (c == '*') {
                star = ++p;
                star_to = n;
                continue;
            }
            if (c == '?') {
                ++p;
                n += length;
                continue;
            }
            if (c == '[') {
                size_t end;
                const bool held = set_holds(pattern, p + 1, code_point(name, n, length), &end);
                if (end != std::string_view::npos ? held : name[n] == '[') {
                    p = end != std::string_view::npos ? end : p + 1;
                    n += end != std::string_view::npos ? length : 1;
                    continue;
                }
            } else if (c == name[n]) {
                ++p;
                ++n;
                continue;
            }
        }
        // No match here: the last * takes one more character, if there was one.
        if (star == std::string_view::npos)
            return false;
        p = star;
        star_to += char_length(name, star_to);
        n = star_to;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

int NAME_TABLE::add(const std::string &name)
{
    const int known = id({name.data(), static_cast<int>(name.size())});
    if (known != 0)
        return known;
    const size_t bucket = name.size() < LONG ? name.size() : LONG;
    by_length[bucket].push_back({name, next_id});
    texts.push_back(name);
    matched.emplace_back();
    for (const std::string &pattern : patterns)
        matched.back().push_back(name_matches_pattern(pattern, name));
    return next_id++;
}

int NAME_TABLE::add_pattern(const std::string &pattern)
{
    for (size_t k = 0; k < patterns.size(); ++k) {
        if (patterns[k] == pattern)
            return -static_cast<int>(k) - 1;
    }
    patterns.push_back(pattern);
    // A set of patterns made before knows nothing of this one; sets are only made while
    // a document is read, after every path is prepared.
    for (size_t id = 0; id < matched.size(); ++id)
        matched[id].push_back(!texts[id].empty() && name_matches_pattern(pattern, texts[id]));
    return -static_cast<int>(patterns.size());
}

int NAME_TABLE::add_pattern_set(const std::vector<char> &flags)
{
    const auto known = sets.find(flags);
    if (known != sets.end())
        return known->second;
    texts.emplace_back();
    matched.push_back(flags);
    sets.emplace(flags, next_id);
    return next_id++;
}

void ELEMENT_PATH::prepare(ATTRIBUTE *first, int pointer_count, NAME_TABLE &table)
{
    count = pointer_count;
    complete = true;
    ids.clear();
    patterns = nullptr;
    ATTRIBUTE *node = first;
    for (int i = 0; i < count; ++i, node = node->next) {
        if (node == nullptr) {
            complete = false;
            break;
        }
        const std::string name = node->name.toStdString();
        if (is_name_pattern(name)) {
            ids.push_back(table.add_pattern(name));
            patterns = &table;
        } else {
            ids.push_back(table.add(name));
        }
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
    if (patterns != nullptr)
        return open.size() > 0 && patterns->accepts(open.innermost_id(), ids.back()) &&
               leads_outer_by_patterns(open, first, count);
    for (int i = count - 1; i >= 0; --i) {
        if (open.id(first + i) != ids[static_cast<size_t>(i)])
            return false;
    }
    return true;
}

bool ELEMENT_PATH::leads_outer_by_patterns(const ELEMENT_STACK &open, int first, int names) const
{
    for (int i = names - 2; i >= 0; --i) {
        if (!patterns->accepts(open.id(first + i), ids[static_cast<size_t>(i)]))
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
            int names_in_path = column->pointer_count;
            if (column->type == tok::ATTRIBUTE_ARG) {
                c.from_attribute = true;
                c.attribute = column->argument.toStdString();
            } else if (const ATTRIBUTE *attribute = column->attribute_in_path();
                       attribute != nullptr && column->is_element_kind() &&
                       column->type != tok::ELEMENTNAME) {
                // "a" -> "@k": the attribute k of the element that "a" names.
                c.from_attribute = true;
                c.attribute = attribute->name.mid(1).toStdString();
                names_in_path = std::min(names_in_path, column->child_count() - 1);
            }
            c.path.prepare(column->child, names_in_path, names);
            c.argument = column->argument.toStdString();
            if (column->type == tok::ATTRIBUTE_CONVERT) {
                if (column->sub_type == tok::DURATION_TO_SECONDS)
                    c.conversion = CONVERSION::duration;
                else if ((column->sub_type == tok::STRING_TO_UTC ||
                          column->sub_type == tok::STRING_TO_LOCAL) &&
                         is_iso8601_format(column->argument))
                    c.conversion = CONVERSION::iso8601;
            }
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
// list collects the items of one holder, and starts anew with each holder. An ELEMENTNAME
// column takes its value where its element starts.
void HANDLER_PLAN::file_start_work(MEASUREMENT_PLAN *m, int from, int to)
{
    for (COLUMN_PLAN &column : m->column_plans) {
        const auto work_at = [&](int ref, auto &&file) {
            names.each_id(ref, from, to, [&](int id) {
                file(static_cast<size_t>(id));
                work_at_start[static_cast<size_t>(id)] = true;
            });
        };
        if (column.type == tok::ELEMENTNAME && accepts_every_id(column)) {
            // Reported, or taken, at every element start.
            for (int id = from; id < to; ++id) {
                names_at_start[static_cast<size_t>(id)].push_back(&column);
                work_at_start[static_cast<size_t>(id)] = true;
            }
            continue;
        }
        if (accepts_every_id(column) || !column.path.complete)
            continue;
        const int length = column.path.count;
        const auto empty_from = [&](int leading) {
            work_at(column.path.ids[static_cast<size_t>(leading - 1)], [&](size_t id) {
                clear_at_start[id].push_back({&column, leading});
            });
        };
        if ((column.node->is_element_kind() && empty_missing_values) ||
            column.type == tok::WORDLIST) {
            empty_from(length);
            if (length >= 2)
                empty_from(length - 1);
        } else if (column.type == tok::ELEMENTLIST) {
            if (length >= 2)
                empty_from(length - 1);
            if (column.list->keyed)
                work_at(column.path.last_id(),
                        [&](size_t id) { keys_at_start[id].push_back(&column); });
        }
        if (column.type == tok::ELEMENTNAME)
            work_at(column.path.last_id(),
                    [&](size_t id) { names_at_start[id].push_back(&column); });
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
    index_columns(&others.back(), lists);
    file_columns(&others.back(), names, 0, names.count());
    return others.back();
}

void HANDLER_PLAN::size_tables()
{
    const size_t name_count = static_cast<size_t>(names.count());
    measurements_at_start.resize(name_count);
    measurements_at_end.resize(name_count);
    start_captures.resize(name_count);
    start_captures_only.resize(name_count, true);
    clear_at_start.resize(name_count);
    keys_at_start.resize(name_count);
    names_at_start.resize(name_count);
    work_at_start.resize(name_count, false);
}

// Files everything of the description under the name numbers in [from, to).
void HANDLER_PLAN::file_ids(int from, int to)
{
    for (MEASUREMENT_PLAN &m : measurements) {
        file_columns(&m, names, from, to);
        file_start_work(&m, from, to);
        // Faults are reported at every element, and some conditions hold at every end.
        const bool faulty = m.node->type != tok::MEASUREMENT || m.columns == nullptr;
        const bool every_start = faulty || m.visit_all_at_start;
        const bool every_end = faulty || m.visit_all_at_end || m.match == nullptr ||
                               m.conditions.empty() || m.void_first ||
                               !m.any_end_conditions.empty();
        for (size_t id = static_cast<size_t>(from); id < static_cast<size_t>(to); ++id) {
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
    for (MEASUREMENT_PLAN &m : others)
        file_columns(&m, names, from, to);
}

void HANDLER_PLAN::build(ATTRIBUTE *description, bool empty_missing)
{
    empty_missing_values = empty_missing;
    for (ATTRIBUTE *m = description != nullptr ? description->child : nullptr; m != nullptr;
         m = m->next) {
        measurements.emplace_back();
        prepare_measurement(&measurements.back(), m, names);
    }
    // Every name is numbered now; the indexes need the final count.
    size_tables();
    for (MEASUREMENT_PLAN &m : measurements)
        index_columns(&m, lists);
    file_ids(0, names.count());
}

int HANDLER_PLAN::pattern_id(XML_TEXT name)
{
    const std::string_view text(name.data, static_cast<size_t>(name.size));
    const auto known = pattern_ids.find(text);
    if (known != pattern_ids.end())
        return known->second;
    const std::vector<std::string> &patterns = names.pattern_texts();
    std::vector<char> flags(patterns.size());
    bool any = false;
    for (size_t k = 0; k < patterns.size(); ++k) {
        flags[k] = name_matches_pattern(patterns[k], text);
        any = any || flags[k];
    }
    int id = 0;
    if (any) {
        const int count = names.count();
        id = names.add_pattern_set(flags);
        if (id == count) {
            size_tables();
            file_ids(id, id + 1);
        }
    }
    // Enough for any description's names; beyond that a name is matched again each time.
    if (pattern_ids.size() < 10000) {
        met_names.emplace_back(text);
        pattern_ids.emplace(met_names.back(), id);
    }
    return id;
}
