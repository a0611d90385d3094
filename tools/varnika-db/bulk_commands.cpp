// replace, titlecase, delete-all: the main window's bulk operations from the
// command line. Each flag stands for one box or check box of the window; the
// window's own handlers do the work through a window without a screen.

#include "db/data_control.h"
#include "db/text.h"
#include "ops/delete_all.h"
#include "ops/find_replace.h"
#include "tools/varnika-db/commands.h"
#include "tools/varnika-db/headless_window.h"
#include "tools/varnika-db/progress_meter.h"

#include <map>
#include <optional>
#include <string_view>

namespace varnika::tool {

namespace {

enum class Target { Box, Check, Progress, RecordSource };

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

const Flag* const kReplaceFlags[] = {&kTable,          &kField,         &kOld,  &kNew,      &kAnd,
                                     &kField2,         &kNew2,          &kNumeric, &kDate, &kDateTime,
                                     &kDebitToCredit,  &kCreditToDebit, &kProgress};
const Flag* const kTitleCaseFlags[] = {&kTable, &kField, &kProgress};
const Flag* const kDeleteAllFlags[] = {&kSource, &kProgress};

// The command line taken apart: the file and the value of each flag given
// (empty for a switch).
struct Request {
    std::string file;
    std::map<const Flag*, std::string> given;

    bool has(const Flag& f) const { return given.count(&f) != 0; }
    const std::string& value(const Flag& f) const { return given.at(&f); }
};

template <size_t N>
Result<Request> parse(const std::vector<std::string>& args, const Flag* const (&flags)[N])
{
    Request request;
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

// Runs one handler with the window filled from the flags, the progress bar
// when asked for, and the counter's final text on `out`.
template <typename Handler>
Status runOnWindow(const Request& r, std::FILE* out, bool caseOption, Handler handler)
{
    DataControl data;
    data.setRegionalSettings(RegionalSettings::turkish());
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
    // After a failure the counter is worth showing only when it tells at
    // which record the run stopped.
    if (status.isOk() || window.recordsReached() > 0) {
        const std::string counter = toUtf8(window.counterText());
        std::fprintf(out, "%s\n", counter.c_str());
    }
    return status;
}

}  // namespace

Status runReplace(const std::vector<std::string>& args, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(Request r, parse(args, kReplaceFlags));
    VK_RETURN_IF_ERROR(checkReplaceFlags(r));
    return runOnWindow(r, out, false, [](WindowPort& w, DataControl& d) { return Command1_Click(w, d); });
}

Status runTitleCase(const std::vector<std::string>& args, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(Request r, parse(args, kTitleCaseFlags));
    VK_RETURN_IF_ERROR(requireName(r, kTable));
    VK_RETURN_IF_ERROR(requireName(r, kField));
    return runOnWindow(r, out, true, [](WindowPort& w, DataControl& d) { return Command1_Click(w, d); });
}

Status runDeleteAll(const std::vector<std::string>& args, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(Request r, parse(args, kDeleteAllFlags));
    VK_RETURN_IF_ERROR(requireName(r, kSource));
    const std::u16string source = fromUtf8(r.value(kSource));
    return runOnWindow(r, out, false, [&](WindowPort& w, DataControl& d) {
        // The binding a last run of the window would have left.
        d.SetDatabaseName(w.text(TextBox::Text1));
        d.SetRecordSource(source);
        return Command3_Click(w, d);
    });
}

}  // namespace varnika::tool
