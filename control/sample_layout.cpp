// sample_layout.cpp - the layouts corvane -g knows, recognised in a sample file, and the
// sample's values read on their own for the proof.

#include "control/sample_layout.h"

#include <algorithm>
#include <functional>
#include <set>

#include "convert/records/handler_plan.h"
#include "convert/records/time_values.h"
#include "convert/xml/event_reader.h"
#include "runtime/byte_string.h"

namespace
{

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view text) { return trimmed_blanks(text); }

// A counter's value: digits, perhaps with a sign, a decimal point, an exponent, or a list
// of such separated by commas, as counters of distributions are written.
bool is_number(std::string_view text)
{
    text = trimmed(text);
    bool digit = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c != '.' && c != ',' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return false;
    }
    return digit;
}

std::string attribute(const XML_ATTRIBUTE *atts, int count, std::string_view name)
{
    std::string value;
    for (int i = 0; i < count; ++i) {
        const std::string_view local(atts[i].local_name.data,
                                     static_cast<size_t>(atts[i].local_name.size));
        if (local == name)
            value.assign(atts[i].value.data, static_cast<size_t>(atts[i].value.size));
    }
    return value;
}

bool has_attribute(const XML_ATTRIBUTE *atts, int count, std::string_view name)
{
    for (int i = 0; i < count; ++i) {
        if (std::string_view(atts[i].local_name.data,
                             static_cast<size_t>(atts[i].local_name.size)) == name)
            return true;
    }
    return false;
}

QDateTime utc_of(std::string_view text)
{
    ISO_DATE_TIME read;
    if (!read_iso8601(text, &read))
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(instant_of(read), Qt::UTC);
}

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char &c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

bool contains_any(std::string_view name, std::initializer_list<const char *> words)
{
    const std::string folded = lower(name);
    for (const char *word : words) {
        if (folded.find(word) != std::string::npos)
            return true;
    }
    return false;
}

// The text of an element as the conversion takes it: its last piece of character data.
class PIECES
{
public:
    void text(std::string_view chunk, bool joined)
    {
        if (!joined)
            piece.clear();
        piece.append(chunk);
    }
    void clear() { piece.clear(); }
    const std::string &current() const { return piece; }

private:
    std::string piece;
};

// ---- Recognition ----------------------------------------------------------------------

// The local names of the standard layouts whose written form the configuration needs.
const std::set<std::string, std::less<>> &standard_names()
{
    static const std::set<std::string, std::less<>> names = {"measCollecFile",
                                                             "measDataFile",
                                                             "measData",
                                                             "managedElement",
                                                             "measEntity",
                                                             "measInfo",
                                                             "job",
                                                             "granPeriod",
                                                             "measType",
                                                             "measTypes",
                                                             "measValue",
                                                             "r",
                                                             "measResults",
                                                             "suspect",
                                                             "mdc",
                                                             "md",
                                                             "neid",
                                                             "nedn",
                                                             "mi",
                                                             "mts",
                                                             "gp",
                                                             "mt",
                                                             "mv",
                                                             "moid",
                                                             "sf"};
    return names;
}

// What the counters-as-elements layout needs to know of one element while it is open.
struct FRAME {
    std::string qname;
    std::vector<std::pair<std::string, std::string>> attributes;
    int branch_children = 0;
    int numeric_leaves = 0;
    int text_leaves = 0;
    std::vector<std::string> leaf_names;  // of the numeric or empty leaves
    std::vector<std::string> child_names; // of every child, a few
    // Leaves below it, by their path from it, with their text, and whether they came
    // before its first holder; a few, not deep.
    struct LEAF {
        std::string path;
        std::string text;
        bool before_holder;
        bool before_numbers; // before the first leaf with a number, in a holder
    };
    std::vector<LEAF> leaves;
    int holders = 0;
    // Children that hold no counters, with the names of their own children.
    std::vector<std::pair<std::string, std::vector<std::string>>> others;
};

constexpr size_t FEW = 16;
constexpr size_t MANY = 4096;

// Everything seen of the holders under elements of one name.
struct CONTEXT {
    qint64 occurrences = 0;
    qint64 holders = 0;
    qint64 values = 0;
    std::map<std::string, qint64> holder_names;
    std::set<std::string> counter_names;
    std::map<std::string, qint64> holder_attributes;
    std::map<std::string, std::set<std::string>> others; // by the other child's name
    struct LEAF_COUNT {
        qint64 before = 0; // occurrences where it named something before the first holder
        qint64 any = 0;
    };
    std::map<std::string, LEAF_COUNT> leaves;
    std::map<std::string, qint64> attributes; // of the context, with a text value
    // Inside the holders: their attributes with a text value, and their leaves with text
    // (by name), which are no counters.
    std::map<std::string, qint64> holder_text_attributes;
    std::map<std::string, LEAF_COUNT> inner_leaves;
    std::set<std::string> inner_text_names;
    std::string end_element;
    std::string length_element;
    qint64 length = 0; // its seconds
};

class RECOGNISER final : public XML_EVENTS
{
public:
    void start(std::string_view qname, std::string_view local, const XML_ATTRIBUTE *atts,
               int count) override
    {
        pieces.clear();
        ++elements;
        if (depth == 0) {
            root_local.assign(local);
            root_qname.assign(qname);
            standard = local == "measCollecFile" || local == "measDataFile" || local == "mdc";
        }
        ++depth;
        if (!begin.isValid()) {
            for (const char *name : {"beginTime", "startTime"}) {
                if (has_attribute(atts, count, name)) {
                    begin = utc_of(attribute(atts, count, name));
                    break;
                }
            }
        }
        if (standard) {
            start_standard(qname, local, atts, count);
            return;
        }
        frames.emplace_back();
        FRAME &frame = frames.back();
        frame.qname.assign(qname);
        for (int i = 0; i < count; ++i)
            frame.attributes.emplace_back(
                std::string(atts[i].local_name.data, static_cast<size_t>(atts[i].local_name.size)),
                std::string(atts[i].value.data, static_cast<size_t>(atts[i].value.size)));
    }

    void end(std::string_view qname) override
    {
        --depth;
        if (standard) {
            end_standard(qname);
            pieces.clear();
            return;
        }
        end_frame();
        pieces.clear();
    }

    void text(std::string_view chunk, bool joined) override { pieces.text(chunk, joined); }

    // A standard layout is known once one block with values has been read; the rest of
    // the file is read by the proof.
    // Counters as elements are known from a good part of a file: a hundred thousand
    // elements, once some block holds counters.
    bool finished() const override
    {
        return standard ? block_with_values : elements >= 100000 && counters_seen;
    }

    void decide(const QString &file_name, SAMPLE_LAYOUT *layout);

    qint64 elements = 0;

private:
    void start_standard(std::string_view qname, std::string_view local, const XML_ATTRIBUTE *atts,
                        int count)
    {
        const auto known = standard_names().find(local);
        if (known != standard_names().end() && names.find(*known) == names.end())
            names.emplace(*known, std::string(qname));
        if (local == "granPeriod" && period == 0) {
            qint64 seconds;
            if (read_duration(attribute(atts, count, "duration"), &seconds))
                period = seconds;
        }
        if (local == "r" && parent_local == "measValue")
            ++r_values;
        if (local == "r" && parent_local == "mv")
            ++mdc_values;
        if (local == "measResults" && parent_local == "measValue")
            ++result_lists;
        if (local == "measValue")
            ++meas_values;
        if ((local == "suspect" && parent_local == "measValue") ||
            (local == "sf" && parent_local == "mv"))
            suspect = true;
        open_locals.emplace_back(local);
        parent_local = open_locals.back();
    }

    void end_standard(std::string_view)
    {
        const std::string &local = open_locals.back();
        if (local == "gp" && period == 0) {
            qint64 seconds;
            if (read_duration(pieces.current(), &seconds))
                period = seconds;
        }
        if (local == "cbt" && !begin.isValid())
            begin = utc_of(pieces.current());
        if ((local == "measInfo" || local == "mi") && r_values + result_lists + mdc_values > 0)
            block_with_values = true;
        open_locals.pop_back();
        parent_local = open_locals.empty() ? std::string() : open_locals.back();
    }

    void end_frame();

    int depth = 0;
    bool standard = false;
    std::string root_local;
    std::string root_qname;
    PIECES pieces;
    QDateTime begin;

    // The standard layouts.
    std::map<std::string, std::string> names;
    std::vector<std::string> open_locals;
    std::string parent_local;
    qint64 period = 0;
    qint64 r_values = 0;
    qint64 result_lists = 0;
    qint64 meas_values = 0;
    qint64 mdc_values = 0;
    bool suspect = false;
    bool block_with_values = false;
    bool counters_seen = false;

    // Counters as elements.
    std::vector<FRAME> frames;
    std::map<std::string, CONTEXT> contexts;
};

void RECOGNISER::end_frame()
{
    FRAME frame = std::move(frames.back());
    frames.pop_back();
    FRAME *parent = frames.empty() ? nullptr : &frames.back();
    if (parent == nullptr)
        return;
    if (parent->child_names.size() < MANY &&
        std::find(parent->child_names.begin(), parent->child_names.end(), frame.qname) ==
            parent->child_names.end())
        parent->child_names.push_back(frame.qname);
    const bool leaf =
        frame.branch_children == 0 && frame.numeric_leaves == 0 && frame.text_leaves == 0;
    if (leaf) {
        const std::string_view text = trimmed(pieces.current());
        if (parent->leaves.size() < FEW)
            parent->leaves.push_back({frame.qname, one_line(pieces.current()), parent->holders == 0,
                                      parent->numeric_leaves == 0});
        if (text.empty() || is_number(text)) {
            ++parent->numeric_leaves;
            if (parent->leaf_names.size() < MANY)
                parent->leaf_names.push_back(frame.qname);
        } else {
            ++parent->text_leaves;
        }
        return;
    }
    ++parent->branch_children;
    // A holder's leaves are counters, most of them holding numbers; the others may name
    // what they count.
    const bool holder = frame.branch_children == 0 && frame.numeric_leaves > 0 &&
                        frame.numeric_leaves >= frame.text_leaves;
    if (holder) {
        ++parent->holders;
        CONTEXT &context = contexts[parent->qname];
        ++context.holders;
        counters_seen = counters_seen || context.holders >= 2;
        context.values += frame.numeric_leaves;
        ++context.holder_names[frame.qname];
        for (const std::string &name : frame.leaf_names) {
            if (context.counter_names.size() < MANY)
                context.counter_names.insert(name);
        }
        for (const auto &[name, value] : frame.attributes) {
            if (!trimmed(value).empty())
                ++context.holder_attributes[name];
            if (!trimmed(value).empty() && !is_number(value))
                ++context.holder_text_attributes[name];
        }
        std::set<std::string> counted;
        for (const FRAME::LEAF &inner : frame.leaves) {
            if (inner.text.empty() || is_number(inner.text))
                continue;
            context.inner_text_names.insert(inner.path);
            if (!counted.insert(inner.path).second)
                continue;
            CONTEXT::LEAF_COUNT &count = context.inner_leaves[inner.path];
            ++count.any;
            count.before += inner.before_numbers ? 1 : 0;
        }
        return;
    }
    if (parent->others.size() < FEW)
        parent->others.emplace_back(frame.qname, frame.child_names);
    for (const FRAME::LEAF &leaf_below : frame.leaves) {
        if (parent->leaves.size() >= FEW ||
            std::count(leaf_below.path.begin(), leaf_below.path.end(), '/') >= 2)
            continue;
        parent->leaves.push_back(
            {frame.qname + '/' + leaf_below.path, leaf_below.text, parent->holders == 0, false});
    }
    if (frame.holders == 0)
        return;
    // A block of holders has ended: what stands beside them.
    CONTEXT &context = contexts[frame.qname];
    ++context.occurrences;
    for (const auto &[name, children] : frame.others)
        context.others[name].insert(children.begin(), children.end());
    std::set<std::string> counted;
    for (const FRAME::LEAF &leaf_below : frame.leaves) {
        if (leaf_below.text.empty() || is_number(leaf_below.text) ||
            !counted.insert(leaf_below.path).second)
            continue;
        CONTEXT::LEAF_COUNT &count = context.leaves[leaf_below.path];
        ++count.any;
        count.before += leaf_below.before_holder ? 1 : 0;
    }
    for (const auto &[name, value] : frame.attributes) {
        if (!trimmed(value).empty() && !is_number(value))
            ++context.attributes[name];
    }
    // The period of the block, from the nearest element above it that writes one.
    for (auto above = frames.rbegin(); above != frames.rend(); ++above) {
        for (const auto &[name, value] : above->attributes) {
            qint64 seconds;
            if (context.end_element.empty() && name == "endTime" && utc_of(value).isValid())
                context.end_element = above->qname;
            if (context.length_element.empty() && name == "duration" &&
                read_duration(value, &seconds)) {
                context.length_element = above->qname;
                context.length = seconds;
            }
        }
    }
}

// The first-character class of a set of names, such as [Mm] for M8020C3 and m8020c3.
std::string first_characters(const std::set<std::string> &names)
{
    std::set<char> set;
    for (const std::string &name : names) {
        const char c = name.empty() ? '\0' : name[0];
        if (c >= 'A' && c <= 'Z') {
            set.insert(c);
            set.insert(static_cast<char>(c - 'A' + 'a'));
        } else if (c >= 'a' && c <= 'z') {
            set.insert(c);
            set.insert(static_cast<char>(c - 'a' + 'A'));
        } else if (c == '\0' || c == ']' || c == '!' || c == '-' ||
                   static_cast<unsigned char>(c) >= 0x80) {
            return std::string();
        } else {
            set.insert(c);
        }
    }
    std::string result = "[";
    for (const char c : set)
        result += c;
    return result + "]";
}

bool matches_all(const std::string &pattern, const std::set<std::string> &names)
{
    for (const std::string &name : names) {
        if (!name_matches_pattern(pattern, name))
            return false;
    }
    return true;
}

bool matches_none(const std::string &pattern, const std::set<std::string> &names)
{
    for (const std::string &name : names) {
        if (name_matches_pattern(pattern, name))
            return false;
    }
    return true;
}

// The most general pattern, of a few, that takes every name of `wanted` and none of
// `others`; empty when none does.
std::string pattern_between(const std::set<std::string> &wanted,
                            const std::set<std::string> &others)
{
    // Names written with one prefix keep it as it stands: the class is that of the first
    // character after it.
    std::string prefix;
    const size_t colon = wanted.empty() ? std::string::npos : wanted.begin()->find(':');
    if (colon != std::string::npos) {
        prefix = wanted.begin()->substr(0, colon + 1);
        for (const std::string &name : wanted) {
            if (name.compare(0, prefix.size(), prefix) != 0)
                prefix.clear();
        }
    }
    std::set<std::string> locals;
    for (const std::string &name : wanted)
        locals.insert(name.substr(prefix.size()));
    std::vector<std::string> candidates = {"*"};
    if (!prefix.empty())
        candidates.push_back(prefix + "*");
    const std::string first = first_characters(locals);
    if (!first.empty()) {
        candidates.push_back(prefix + first + "*");
        candidates.push_back(prefix + first + "*[0-9]*");
    }
    for (const std::string &candidate : candidates) {
        if (matches_all(candidate, wanted) && matches_none(candidate, others))
            return candidate;
    }
    return std::string();
}

void RECOGNISER::decide(const QString &file_name, SAMPLE_LAYOUT *layout)
{
    (void)file_name;
    layout->begin = begin;
    const size_t colon = root_qname.find(':');
    if (colon != std::string::npos)
        layout->prefix = root_qname.substr(0, colon + 1);
    if (standard) {
        layout->names = names;
        layout->period = period;
        layout->suspect = suspect;
        if (root_local == "mdc") {
            layout->kind = LAYOUT_KIND::mdc;
            layout->what = QStringLiteral("mdc (3GPP TS 32.401), values paired with the mt names "
                                          "by position");
            return;
        }
        layout->data_file = root_local == "measDataFile";
        const QString root = layout->data_file ? QStringLiteral("measDataFile (3GPP TS 28.532)")
                                               : QStringLiteral("measCollecFile (3GPP TS 32.435)");
        if (result_lists > r_values) {
            layout->kind = LAYOUT_KIND::meas_list;
            layout->what = root + QStringLiteral(", counters in measTypes and measResults lists");
        } else {
            layout->kind = LAYOUT_KIND::meas_r;
            layout->what = root + QStringLiteral(", counters in r elements");
        }
        if (meas_values == 0)
            layout->note = QStringLiteral("it holds no measValue, so the r form is taken");
        else if (result_lists > 0 && r_values > 0)
            layout->note = QStringLiteral("it holds both r elements and measResults lists");
        return;
    }
    // Counters as elements: the block that holds the most counters.
    const CONTEXT *best = nullptr;
    std::string best_name;
    for (const auto &[name, context] : contexts) {
        if (context.holders < 2 || context.counter_names.size() < 2)
            continue;
        if (best == nullptr || context.values > best->values) {
            best = &context;
            best_name = name;
        }
    }
    if (best == nullptr) {
        layout->why_not =
            QStringLiteral("its root element <%1> is none of measCollecFile, measDataFile and "
                           "mdc, and no repeated element holds counters as elements of their own "
                           "(leaf elements of differing names holding numbers)")
                .arg(QString::fromStdString(root_qname));
        return;
    }
    const CONTEXT &context = *best;
    layout->context = best_name;
    std::set<std::string> holder_names;
    for (const auto &[name, count] : context.holder_names)
        holder_names.insert(name);
    layout->holder = holder_names.size() == 1 ? *holder_names.begin() : std::string("*");
    // The elements beside the holders that the holder's pattern takes too: their children
    // must not pass for counters.
    const auto others_for = [&](const std::string &holder) {
        std::set<std::string> others = context.inner_text_names;
        for (const auto &[name, children] : context.others) {
            if (holder == name || (is_name_pattern(holder) && name_matches_pattern(holder, name)))
                others.insert(children.begin(), children.end());
        }
        return others;
    };
    layout->counter = pattern_between(context.counter_names, others_for(layout->holder));
    if (layout->counter.empty() && holder_names.size() > 1) {
        std::set<std::string> other_children;
        for (const auto &[name, children] : context.others)
            other_children.insert(name);
        layout->holder = pattern_between(holder_names, other_children);
        if (!layout->holder.empty())
            layout->counter = pattern_between(context.counter_names, others_for(layout->holder));
    }
    if (layout->counter.empty() || layout->holder.empty()) {
        layout->why_not =
            QStringLiteral("the counters in the elements of <%1> cannot be told apart "
                           "from the elements beside them by their names")
                .arg(QString::fromStdString(best_name));
        return;
    }
    // The measurement type: an attribute every holder carries, else the holders' names.
    std::string type;
    int type_rank = 0;
    for (const auto &[name, count] : context.holder_attributes) {
        if (count != context.holders)
            continue;
        const int rank = contains_any(name, {"type"})                            ? 3
                         : contains_any(name, {"meas"})                          ? 2
                         : contains_any(name, {"kind", "class", "group", "cat"}) ? 1
                                                                                 : 0;
        if (rank > type_rank) {
            type = name;
            type_rank = rank;
        }
    }
    layout->type_attribute = type;
    layout->type_by_name = type.empty() && holder_names.size() > 1;
    // The measured object's name: of what every block (or holder) has before its counters,
    // the one whose name says so most; at a tie a text beside the holders, then one inside
    // them, then an attribute of the holders, then one of the block. An attribute must
    // say so by its name.
    const auto object_rank = [](std::string_view path) {
        const std::string_view last = path.substr(path.rfind('/') + 1);
        return contains_any(last, {"dn", "moid", "obj"}) ? 2
               : contains_any(last, {"name", "id"})      ? 1
                                                         : 0;
    };
    int best_rank = -1;
    int best_tier = 0;
    std::string best_object;
    const auto consider = [&](int tier, const std::string &name, bool attribute) {
        const int rank = object_rank(name);
        if ((attribute && rank == 0) || name == type)
            return;
        if (rank > best_rank || (rank == best_rank && tier < best_tier)) {
            best_rank = rank;
            best_tier = tier;
            best_object = name;
        }
    };
    std::string object_after;
    for (const auto &[path, count] : context.leaves) {
        if (count.any == context.occurrences && count.before == context.occurrences)
            consider(0, path, false);
        else if (count.any == context.occurrences && object_after.empty())
            object_after = path;
    }
    for (const auto &[name, count] : context.inner_leaves) {
        if (count.any == context.holders && count.before == context.holders)
            consider(1, name, false);
        else if (count.any == context.holders && object_after.empty())
            object_after = name;
    }
    for (const auto &[name, count] : context.holder_text_attributes) {
        if (count == context.holders)
            consider(2, name, true);
    }
    for (const auto &[name, count] : context.attributes) {
        if (count == context.occurrences)
            consider(3, name, true);
    }
    if (best_rank < 0) {
        if (!object_after.empty())
            layout->note = QStringLiteral("the name of the measured object (%1) follows its "
                                          "counters, so OBJ_LDN is left out")
                               .arg(QString::fromStdString(object_after));
    } else if (best_tier == 0) {
        size_t from = 0;
        for (size_t slash; (slash = best_object.find('/', from)) != std::string::npos;
             from = slash + 1)
            layout->object_path.push_back(best_object.substr(from, slash - from));
        layout->object_path.push_back(best_object.substr(from));
    } else if (best_tier == 1) {
        layout->object_in_holder = best_object;
    } else if (best_tier == 2) {
        layout->object_holder_attribute = best_object;
    } else {
        layout->object_attribute = best_object;
    }
    layout->period_end_element = context.end_element;
    layout->period_length_element = context.length_element;
    layout->period = context.length;
    layout->kind = LAYOUT_KIND::counter_elements;
    layout->what =
        QStringLiteral("counters as elements of their own, in <%1> elements of <%2>")
            .arg(QString::fromStdString(layout->holder), QString::fromStdString(best_name));
}

// ---- Values ---------------------------------------------------------------------------

// Texts of one block kept one after the other, so that a block of any size costs a few
// allocations.
class ARENA
{
public:
    struct SPAN {
        size_t at = 0;
        size_t size = 0;
    };
    SPAN put(std::string_view text)
    {
        SPAN span{bytes.size(), text.size()};
        bytes.append(text);
        return span;
    }
    std::string_view get(SPAN span) const
    {
        return std::string_view(bytes).substr(span.at, span.size);
    }
    void clear() { bytes.clear(); }

private:
    std::string bytes;
};

// The element names a reading tells apart, as numbers; 0 for every other.
class OPEN_NAMES
{
public:
    explicit OPEN_NAMES(std::vector<std::string> names) : known(std::move(names)) {}
    // The number of a name: 1 for the first of the list, 2 for the next...
    void push(std::string_view qname)
    {
        int id = 0;
        for (size_t k = 0; k < known.size() && id == 0; ++k) {
            if (known[k] == qname)
                id = static_cast<int>(k) + 1;
        }
        open.push_back(id);
    }
    void pop() { open.pop_back(); }
    bool is(int id) const { return !open.empty() && open.back() == id; }
    bool inside(int id) const { return open.size() >= 2 && open[open.size() - 2] == id; }

private:
    std::vector<std::string> known;
    std::vector<int> open;
};

std::vector<std::string> split_words(std::string_view text)
{
    std::vector<std::string> words;
    size_t k = 0;
    while (k < text.size()) {
        while (k < text.size() && is_blank(text[k]))
            ++k;
        const size_t start = k;
        while (k < text.size() && !is_blank(text[k]))
            ++k;
        if (k > start)
            words.emplace_back(text.substr(start, k - start));
    }
    return words;
}

// measCollecFile and measDataFile, both forms: at the end of each measInfo, its values
// with the counter names of the same p (r form) or place (list form).
class MEAS_VALUES final : public XML_EVENTS
{
    enum { DATA = 1, ELEMENT, INFO, JOB, VALUE, TYPE, RESULT };

public:
    MEAS_VALUES(const SAMPLE_LAYOUT &layout, VALUE_READING *reading)
        : list(layout.kind == LAYOUT_KIND::meas_list), reading(reading),
          open({layout.name("measData"),
                layout.name(layout.data_file ? "measEntity" : "managedElement"),
                layout.name("measInfo"), layout.name("job"), layout.name("measValue"),
                layout.name(list ? "measTypes" : "measType"),
                layout.name(list ? "measResults" : "r")})
    {
    }
    void start(std::string_view qname, std::string_view, const XML_ATTRIBUTE *atts,
               int count) override
    {
        open.push(qname);
        pieces.clear();
        if (open.is(DATA)) {
            network_element.clear();
        } else if (open.is(ELEMENT) && open.inside(DATA)) {
            network_element = attribute(atts, count, "localDn");
        } else if (open.is(INFO)) {
            info_id = open.inside(DATA) ? attribute(atts, count, "measInfoId") : std::string();
            job_id.clear();
            types.clear();
            words.clear();
            values.clear();
            objects.clear();
            texts.clear();
        } else if (open.is(JOB) && open.inside(INFO)) {
            job_id = attribute(atts, count, "jobId");
        } else if (open.is(VALUE) && open.inside(INFO)) {
            objects.push_back(attribute(atts, count, "measObjLdn"));
        } else if (open.is(RESULT) && open.inside(VALUE)) {
            p = attribute(atts, count, "p");
        } else if (open.is(TYPE) && open.inside(INFO)) {
            type_p = attribute(atts, count, "p");
        }
    }
    void end(std::string_view) override
    {
        const std::string &text = pieces.current();
        if (open.is(RESULT) && open.inside(VALUE) && !objects.empty()) {
            if (list) {
                size_t n = 0;
                for (const std::string &word : split_words(text))
                    values.push_back(
                        {objects.size() - 1, texts.put(std::to_string(++n)), texts.put(word)});
            } else {
                values.push_back({objects.size() - 1, texts.put(p), texts.put(text)});
            }
        } else if (open.is(TYPE) && open.inside(INFO)) {
            if (list)
                words = split_words(text);
            else
                types[type_p] = text;
        } else if (open.is(INFO)) {
            for (const VALUE_AT &v : values) {
                const std::string_view p_text = texts.get(v.p);
                std::string_view name;
                if (list) {
                    const size_t at = std::stoul(std::string(p_text)) - 1;
                    if (at < words.size())
                        name = words[at];
                } else {
                    const auto found = types.find(std::string(p_text));
                    if (found != types.end())
                        name = found->second;
                }
                reading->add(key, {network_element, info_id, job_id, objects[v.object], p_text,
                                   name, texts.get(v.text)});
            }
            values.clear();
        }
        open.pop();
        pieces.clear();
    }
    void text(std::string_view chunk, bool joined) override { pieces.text(chunk, joined); }

private:
    struct VALUE_AT {
        size_t object;
        ARENA::SPAN p;
        ARENA::SPAN text;
    };
    const bool list;
    VALUE_READING *reading;
    OPEN_NAMES open;
    PIECES pieces;
    VALUE_KEY key;
    std::string network_element, info_id, job_id, p, type_p;
    std::map<std::string, std::string> types;
    std::vector<std::string> words;
    std::vector<std::string> objects;
    std::vector<VALUE_AT> values;
    ARENA texts;
};

// mdc: at the end of each mi, the values of its mv elements with the mt of the same place.
class MDC_VALUES final : public XML_EVENTS
{
    enum { MD = 1, NEID, NEDN, MI, MT, MV, MOID, R };

public:
    MDC_VALUES(const SAMPLE_LAYOUT &layout, VALUE_READING *reading)
        : reading(reading),
          open({layout.name("md"), layout.name("neid"), layout.name("nedn"), layout.name("mi"),
                layout.name("mt"), layout.name("mv"), layout.name("moid"), layout.name("r")})
    {
    }
    void start(std::string_view qname, std::string_view, const XML_ATTRIBUTE *, int) override
    {
        open.push(qname);
        pieces.clear();
        if (open.is(MD)) {
            network_element.clear();
        } else if (open.is(MI)) {
            types.clear();
            values.clear();
            texts.clear();
        } else if (open.is(MV) && open.inside(MI)) {
            object.clear();
            place = 0;
        }
    }
    void end(std::string_view) override
    {
        const std::string &text = pieces.current();
        if (open.is(NEDN) && open.inside(NEID)) {
            network_element = text;
        } else if (open.is(MT) && open.inside(MI)) {
            types.push_back(text);
        } else if (open.is(MOID) && open.inside(MV)) {
            object = text;
        } else if (open.is(R) && open.inside(MV)) {
            values.push_back(
                {texts.put(network_element), texts.put(object), ++place, texts.put(text)});
        } else if (open.is(MI)) {
            for (const VALUE_AT &v : values) {
                const std::string_view name = v.place <= types.size()
                                                  ? std::string_view(types[v.place - 1])
                                                  : std::string_view();
                reading->add(key, {texts.get(v.network_element), texts.get(v.object),
                                   std::to_string(v.place), name, texts.get(v.text)});
            }
            values.clear();
        }
        open.pop();
        pieces.clear();
    }
    void text(std::string_view chunk, bool joined) override { pieces.text(chunk, joined); }

private:
    struct VALUE_AT {
        ARENA::SPAN network_element;
        ARENA::SPAN object;
        size_t place;
        ARENA::SPAN text;
    };
    VALUE_READING *reading;
    OPEN_NAMES open;
    PIECES pieces;
    VALUE_KEY key;
    std::vector<std::string> types;
    std::string network_element;
    std::string object;
    size_t place = 0;
    std::vector<VALUE_AT> values;
    ARENA texts;
};

// Counters as elements: in each block, every leaf of an element that holds nothing but
// leaves with numbers is a counter, named by its element; the block's object and each
// holder's measurement type go with it.
class ELEMENT_VALUES final : public XML_EVENTS
{
public:
    ELEMENT_VALUES(const SAMPLE_LAYOUT &layout, VALUE_READING *reading)
        : layout(layout), reading(reading)
    {
    }

    void start(std::string_view qname, std::string_view, const XML_ATTRIBUTE *atts,
               int count) override
    {
        pieces.clear();
        if (qname == layout.context) {
            blocks.emplace_back();
            blocks.back().depth = depth;
            blocks.back().object = attribute(atts, count, layout.object_attribute);
        }
        if (!blocks.empty()) {
            BLOCK &block = blocks.back();
            const int below = depth - block.depth; // 0: the block itself
            if (below == 1) {
                block.holder = HOLDER();
                block.holder.name.assign(qname);
                block.holder.type = attribute(atts, count, layout.type_attribute);
                block.holder.object = attribute(atts, count, layout.object_holder_attribute);
            }
            if (below >= 1)
                block.path.emplace_back(qname);
            if (below >= 3)
                block.holder.holds_leaves_only = false;
            leaf = true;
        }
        ++depth;
    }

    void end(std::string_view qname) override
    {
        --depth;
        if (!blocks.empty()) {
            BLOCK &block = blocks.back();
            const int below = depth - block.depth;
            const std::string &text = pieces.current();
            if (below >= 1 && leaf && block.object.empty() && !layout.object_path.empty() &&
                block.path == layout.object_path)
                block.object = text;
            if (below == 2 && leaf) {
                // Leaves with numbers (or nothing) are counters; the others may name the
                // object.
                if (!trimmed(text).empty() && !is_number(text)) {
                    ++block.holder.texts;
                    if (qname == layout.object_in_holder && block.holder.object.empty())
                        block.holder.object = text;
                } else {
                    block.holder.counters.emplace_back(std::string(qname), text);
                }
            } else if (below == 2) {
                block.holder.holds_leaves_only = false;
            }
            if (below == 1) {
                if (block.holder.holds_leaves_only && !block.holder.counters.empty() &&
                    block.holder.counters.size() >= block.holder.texts)
                    block.holders.push_back(std::move(block.holder));
                block.holder = HOLDER();
            }
            if (below >= 1 && !block.path.empty())
                block.path.pop_back();
            if (below == 0) {
                const bool held =
                    !layout.object_in_holder.empty() || !layout.object_holder_attribute.empty();
                for (const HOLDER &holder : block.holders) {
                    const std::string &type = layout.type_by_name ? holder.name : holder.type;
                    for (const auto &[name, value] : holder.counters)
                        add(type, held ? holder.object : block.object, name, value);
                }
                blocks.pop_back();
            }
        }
        leaf = false;
        pieces.clear();
    }

    void text(std::string_view chunk, bool joined) override { pieces.text(chunk, joined); }

private:
    struct HOLDER {
        std::string name;
        std::string type;
        std::string object;
        std::vector<std::pair<std::string, std::string>> counters;
        size_t texts = 0; // leaves with a text that is no number
        bool holds_leaves_only = true;
    };
    struct BLOCK {
        int depth = 0;
        std::string object;
        std::vector<std::string> path; // from the block down to the open element
        HOLDER holder;
        std::vector<HOLDER> holders;
    };

    void add(const std::string &type, const std::string &object, const std::string &name,
             const std::string &value)
    {
        const bool typed = !layout.type_attribute.empty() || layout.type_by_name;
        const bool named = layout.has_object();
        if (typed && named)
            reading->add(key, {type, object, name, value});
        else if (typed)
            reading->add(key, {type, name, value});
        else if (named)
            reading->add(key, {object, name, value});
        else
            reading->add(key, {name, value});
    }

    const SAMPLE_LAYOUT &layout;
    VALUE_READING *reading;
    VALUE_KEY key;
    PIECES pieces;
    std::vector<BLOCK> blocks;
    int depth = 0;
    bool leaf = false;
};

uint64_t mix(uint64_t value)
{
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

} // namespace

std::string one_line(std::string_view text)
{
    std::string line(text);
    for (char &c : line) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return line;
}

bool recognise_layout(const QString &path, SAMPLE_LAYOUT *layout, QString *error)
{
    RECOGNISER recogniser;
    if (!read_xml_file_events(path, &recogniser, error))
        return false;
    *layout = SAMPLE_LAYOUT();
    recogniser.decide(path, layout);
    return true;
}

std::vector<std::string> proof_columns(const SAMPLE_LAYOUT &layout)
{
    switch (layout.kind) {
    case LAYOUT_KIND::meas_r:
    case LAYOUT_KIND::meas_list:
        return {"NE_DN", "MEAS_INFO_ID", "JOB_ID", "OBJ_LDN", "P", "COUNTER", "VALUE"};
    case LAYOUT_KIND::mdc:
        return {"NE_DN", "OBJ_LDN", "P", "COUNTER", "VALUE"};
    case LAYOUT_KIND::counter_elements: {
        std::vector<std::string> columns;
        if (!layout.type_attribute.empty() || layout.type_by_name)
            columns.push_back("MEAS_INFO_ID");
        if (layout.has_object())
            columns.push_back("OBJ_LDN");
        columns.push_back("COUNTER");
        columns.push_back("VALUE");
        return columns;
    }
    case LAYOUT_KIND::none:
        break;
    }
    return {};
}

void VALUE_KEY::field(std::string_view text)
{
    std::string_view comparable = text;
    if (holds_control(text.data(), static_cast<int>(text.size()))) {
        scratch.assign(text);
        for (char &c : scratch) {
            if (c == '\t' || c == '\r' || c == '\n')
                c = ' ';
        }
        comparable = scratch;
    }
    hash = mix(hash ^ std::hash<std::string_view>()(comparable)) + 0x9e3779b97f4a7c15ULL;
}

void KEY_SUMS::add(uint64_t key)
{
    ++count;
    sum += key;
    mixed += mix(key);
    mixed_again += mix(key ^ 0x5851f42d4c957f2dULL);
}

void VALUE_READING::add(VALUE_KEY &key, std::initializer_list<std::string_view> fields)
{
    key = VALUE_KEY();
    for (const std::string_view field : fields)
        key.field(field);
    const uint64_t value = key.value();
    sums.add(value);
    if (keys != nullptr)
        keys->push_back(value);
    if (wanted != nullptr && texts != nullptr && wanted->count(value) != 0) {
        std::string text;
        size_t k = 0;
        for (const std::string_view field : fields)
            text += (k++ == 0 ? "" : " | ") + one_line(field);
        texts->push_back(text);
    }
}

bool read_values(const QString &path, const SAMPLE_LAYOUT &layout, VALUE_READING *reading,
                 QString *error)
{
    switch (layout.kind) {
    case LAYOUT_KIND::meas_r:
    case LAYOUT_KIND::meas_list: {
        MEAS_VALUES values(layout, reading);
        return read_xml_file_events(path, &values, error);
    }
    case LAYOUT_KIND::mdc: {
        MDC_VALUES values(layout, reading);
        return read_xml_file_events(path, &values, error);
    }
    case LAYOUT_KIND::counter_elements: {
        ELEMENT_VALUES values(layout, reading);
        return read_xml_file_events(path, &values, error);
    }
    case LAYOUT_KIND::none:
        break;
    }
    *error = QStringLiteral("no layout");
    return false;
}
