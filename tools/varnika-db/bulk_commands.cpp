// replace, titlecase, delete-all: the main window's bulk operations from the
// command line. Each flag stands for one box or check box of the window; the
// window's own handlers do the work through a window without a screen. A dry
// run hands the handlers a copy of the database in memory and compares the
// copy with the file afterwards.

#include "db/data_control.h"
#include "db/jet/database.h"
#include "db/sql/sql_parser.h"
#include "db/text.h"
#include "ops/delete_all.h"
#include "ops/find_replace.h"
#include "tools/varnika-db/commands.h"
#include "tools/varnika-db/headless_window.h"
#include "tools/varnika-db/progress_meter.h"
#include "tools/varnika-db/value_text.h"

#include <cstring>

#include <map>
#include <optional>
#include <string_view>

namespace varnika::tool {

namespace {

enum class Target { Box, Check, Progress, RecordSource, DryRun, List };

struct Flag {
    const char* name;
    Target target;
    TextBox box = TextBox::Text1;
    CheckBox check = CheckBox::Check1;

    bool takesValue() const { return target == Target::Box || target == Target::RecordSource; }
};

const Flag kTable{"--table", Target::Box, TextBox::Text5};
const Flag kField{"--field", Target::Box, TextBox::Text2};
const Flag kOld{"--old", Target::Box, TextBox::Text3};
const Flag kNew{"--new", Target::Box, TextBox::Text4};
const Flag kAnd{"--and", Target::Box, TextBox::Text6};
const Flag kField2{"--field2", Target::Box, TextBox::Text7};
const Flag kNew2{"--new2", Target::Box, TextBox::Text8};
const Flag kNumeric{"--numeric", Target::Check, {}, CheckBox::Check1};
const Flag kDebitToCredit{"--debit-to-credit", Target::Check, {}, CheckBox::Check2};
const Flag kCreditToDebit{"--credit-to-debit", Target::Check, {}, CheckBox::Check3};
const Flag kDate{"--date", Target::Check, {}, CheckBox::Check5};
const Flag kDateTime{"--datetime", Target::Check, {}, CheckBox::Check6};
const Flag kProgress{"--progress", Target::Progress};
const Flag kSource{"--source", Target::RecordSource};
const Flag kDryRun{"--dry-run", Target::DryRun};
const Flag kList{"--list", Target::List};

const Flag* const kReplaceFlags[] = {&kTable,          &kField,         &kOld,  &kNew,      &kAnd,
                                     &kField2,         &kNew2,          &kNumeric, &kDate, &kDateTime,
                                     &kDebitToCredit,  &kCreditToDebit, &kProgress, &kDryRun, &kList};
const Flag* const kTitleCaseFlags[] = {&kTable, &kField, &kProgress, &kDryRun, &kList};
const Flag* const kDeleteAllFlags[] = {&kSource, &kProgress, &kDryRun, &kList};

// The command line taken apart: the file and the value of each flag given
// (empty for a switch).
struct Request {
    const char* command = "";
    std::string file;
    std::map<const Flag*, std::string> given;

    bool has(const Flag& f) const { return given.count(&f) != 0; }
    const std::string& value(const Flag& f) const { return given.at(&f); }
};

template <size_t N>
Result<Request> parse(const std::vector<std::string>& args, const Flag* const (&flags)[N], const char* command)
{
    Request request;
    request.command = command;
    bool haveFile = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            if (haveFile) return invalidArgument("more than one file given (\"" + request.file + "\" and \"" + arg + "\")");
            request.file = arg;
            haveFile = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Flag* flag = nullptr;
        for (const Flag* f : flags)
            if (name == f->name) flag = f;
        if (!flag) return invalidArgument("unknown option \"" + name + "\"");
        if (request.has(*flag)) return invalidArgument("the option " + name + " is given twice");
        std::string value;
        if (flag->takesValue()) {
            if (equals != std::string::npos) value = arg.substr(equals + 1);
            else if (i + 1 < args.size()) value = args[++i];  // may itself begin with a dash: "--new -5"
            else return invalidArgument("the option " + name + " needs a value");
        } else if (equals != std::string::npos) {
            return invalidArgument("the option " + name + " takes no value");
        }
        request.given.emplace(flag, std::move(value));
    }
    if (!haveFile) return invalidArgument("no database file given");
    if (request.has(kList) && !request.has(kDryRun)) return invalidArgument("--list goes with --dry-run");
    return request;
}

Status require(const Request& r, const Flag& f)
{
    if (!r.has(f)) return invalidArgument(std::string("the option ") + f.name + " is required");
    return Status::ok();
}

Status requireName(const Request& r, const Flag& f)
{
    VK_RETURN_IF_ERROR(require(r, f));
    if (r.value(f).empty()) return invalidArgument(std::string("the option ") + f.name + " needs a name");
    return Status::ok();
}

Status checkReplaceFlags(const Request& r)
{
    VK_RETURN_IF_ERROR(requireName(r, kTable));
    VK_RETURN_IF_ERROR(requireName(r, kField));
    VK_RETURN_IF_ERROR(require(r, kOld));
    const bool ledger = r.has(kDebitToCredit) || r.has(kCreditToDebit);
    if (r.has(kDebitToCredit) && r.has(kCreditToDebit))
        return invalidArgument("--debit-to-credit and --credit-to-debit exclude each other");
    // Under a ledger option the new value plays no part.
    if (!ledger) VK_RETURN_IF_ERROR(require(r, kNew));
    if (r.has(kField2) != r.has(kNew2)) return invalidArgument("--field2 and --new2 go together");
    return Status::ok();
}

void fillWindow(HeadlessWindow& window, const Request& r)
{
    window.fill(TextBox::Text1, fromUtf8(r.file));
    for (const auto& [flag, value] : r.given) {
        if (flag->target == Target::Box) window.fill(flag->box, fromUtf8(value));
        else if (flag->target == Target::Check) window.setChecked(flag->check, true);
    }
}

// A copy of the database in memory, as a reader sees the file now (an
// interrupted change put back); writes to it never reach the file.
Result<std::shared_ptr<jet::Database>> copyInMemory(const std::string& path)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Database> db, jet::Database::open(path, jet::OpenMode::ReadOnly));
    jet::Pager& pager = db->pager();
    const size_t pageSize = pager.pageSize();
    std::vector<uint8_t> bytes(size_t(pager.pageCount()) * pageSize);
    for (uint32_t p = 0; p < pager.pageCount(); ++p) {
        VK_ASSIGN_OR_RETURN(jet::PageRef page, pager.read(p));
        std::memcpy(bytes.data() + size_t(p) * pageSize, page->data(), pageSize);
    }
    return jet::Database::open(std::make_unique<jet::MemoryPageFile>(std::move(bytes)));
}

std::string shown(const Variant& v) { return v.isNull() ? "Null" : "\"" + valueText(v) + "\""; }

// The records of `table` that differ between the file and the copy a dry
// run changed, in the table's order; listed on `out` when asked.
Result<int64_t> countChanges(const std::string& path, jet::Database& copy, const std::u16string& tableName,
                             bool list, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Database> file, jet::Database::open(path, jet::OpenMode::ReadOnly));
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Table> before, file->table(tableName));
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Table> after, copy.table(tableName));
    const jet::TableDef& def = before->def();
    VK_ASSIGN_OR_RETURN(std::vector<jet::RowPointer> rows, before->rowPointers());
    int64_t changed = 0;
    for (size_t n = 0; n < rows.size(); ++n) {
        VK_ASSIGN_OR_RETURN(std::vector<Variant> old, before->readRow(rows[n]));
        Result<std::vector<Variant>> now = after->readRow(rows[n]);
        if (!now.isOk() && now.status().code() != ErrorCode::NotFound) return now.status();
        std::string line;
        if (!now.isOk()) {
            for (int c : def.columnsByNumber()) line += (line.empty() ? "" : ",") + csvField(valueText(old[size_t(c)]));
            line = "deleted: " + line;
        } else {
            for (int c : def.columnsByNumber()) {
                if (old[size_t(c)] == (*now)[size_t(c)]) continue;
                line += (line.empty() ? "" : "; ") + toUtf8(def.columns()[size_t(c)].name) + " " + shown(old[size_t(c)]) +
                        " -> " + shown((*now)[size_t(c)]);
            }
            if (line.empty()) continue;
        }
        ++changed;
        if (list) std::fprintf(out, "record %zu: %s\n", n + 1, line.c_str());
    }
    return changed;
}

// Runs one handler with the window filled from the flags, the progress bar
// when asked for, and the counter's final text on `out`. A dry run counts
// (and lists) the records of `tableName` the handler would change instead.
template <typename Handler>
Status runOnWindow(const Request& r, std::FILE* out, bool caseOption, const std::u16string& tableName, Handler handler)
{
    DataControl data;
    data.setRegionalSettings(RegionalSettings::turkish());
    const bool dryRun = r.has(kDryRun);
    std::shared_ptr<jet::Database> copy;
    if (dryRun) {
        VK_ASSIGN_OR_RETURN(copy, copyInMemory(r.file));
        data.setDatabaseOpener([copy](const std::string&) -> Result<std::shared_ptr<jet::Database>> { return copy; });
    }
    HeadlessWindow window;
    fillWindow(window, r);
    if (caseOption) window.setChecked(CheckBox::Check4, true);

    std::optional<ProgressMeter> meter;
    if (r.has(kProgress)) {
        meter.emplace(stderr);
        window.reportProgress(&*meter, &data);
    }
    Status status = handler(window, data);
    if (meter) meter->finish();
    if (dryRun) {
        if (RecordSet* records = data.Recordset(); records && records->isOpen()) (void)records->Close();
        Result<int64_t> changed = countChanges(r.file, *copy, tableName, r.has(kList), out);
        if (!changed.isOk()) return status.isOk() ? changed.status() : status;
        std::fprintf(out, "dry run: %lld record%s would %s%s; nothing was written\n",
                     static_cast<long long>(*changed), *changed == 1 ? "" : "s",
                     std::strcmp(r.command, "delete-all") == 0 ? "be deleted" : "change",
                     status.isOk() ? "" : " before the failure below");
        return status;
    }
    // After a failure the counter is worth showing only when it tells at
    // which record the run stopped.
    if (status.isOk() || window.recordsReached() > 0) {
        const std::string counter = toUtf8(window.counterText());
        std::fprintf(out, "%s\n", counter.c_str());
    }
    return status;
}

// A command line that is not right is a usage fault.
Outcome usage(const Status& s) { return Outcome::usage(s.message()); }

}  // namespace

Outcome runReplace(const std::vector<std::string>& args, std::FILE* out)
{
    Result<Request> r = parse(args, kReplaceFlags, "replace");
    if (!r.isOk()) return usage(r.status());
    if (Status s = checkReplaceFlags(*r); !s.isOk()) return usage(s);
    return runOnWindow(*r, out, false, fromUtf8(r->value(kTable)),
                       [](WindowPort& w, DataControl& d) { return Command1_Click(w, d); });
}

Outcome runTitleCase(const std::vector<std::string>& args, std::FILE* out)
{
    Result<Request> r = parse(args, kTitleCaseFlags, "titlecase");
    if (!r.isOk()) return usage(r.status());
    if (Status s = requireName(*r, kTable); !s.isOk()) return usage(s);
    if (Status s = requireName(*r, kField); !s.isOk()) return usage(s);
    return runOnWindow(*r, out, true, fromUtf8(r->value(kTable)),
                       [](WindowPort& w, DataControl& d) { return Command1_Click(w, d); });
}

Outcome runDeleteAll(const std::vector<std::string>& args, std::FILE* out)
{
    Result<Request> r = parse(args, kDeleteAllFlags, "delete-all");
    if (!r.isOk()) return usage(r.status());
    if (Status s = requireName(*r, kSource); !s.isOk()) return usage(s);
    const std::u16string source = fromUtf8(r->value(kSource));
    // A record source that does not parse fails in the handler, with the
    // window's message, before a dry run has anything to count.
    Result<RecordSourceQuery> query = parseRecordSource(source);
    const std::u16string table = query.isOk() ? query->tableName : std::u16string();
    return runOnWindow(*r, out, false, table, [&](WindowPort& w, DataControl& d) {
        // The binding a last run of the window would have left.
        d.SetDatabaseName(w.text(TextBox::Text1));
        d.SetRecordSource(source);
        return Command3_Click(w, d);
    });
}

}  // namespace varnika::tool
