#include "modPatch.h"

#include "Platform.h"
#include "Settings.h"

using olbra::BoxKind;
using olbra::Failure;
using olbra::Recordset;
using olbra::Ref;
using olbra::Variant;
using olbra::platform;
using modERR::ReportError;

namespace modPatch {

QString gPatchName;
QString gPatchTitle;
QString gPatchReason;
QString gDataPath;
Ref<olbra::DataConnection> gConn;
std::int16_t gStartAnswer = 0;

namespace {

std::function<std::unique_ptr<PatchWindow>()> g_windowFactory;
std::unique_ptr<PatchWindow> g_window;

} // namespace

void setWindowFactory(std::function<std::unique_ptr<PatchWindow>()> factory) { g_windowFactory = std::move(factory); }

PatchWindow &window()
{
    if (!g_window) {
        if (!g_windowFactory)
            throw Failure(olbra::ErrorCode::ObjectNotSet, QStringLiteral("Object variable not set: the patch window cannot be created"));
        g_window = g_windowFactory();
    }
    return *g_window;
}

bool windowIsLoaded() { return g_window && g_window->isLoaded(); }

void ResetPatchState()
{
    gPatchName.clear();
    gPatchTitle.clear();
    gPatchReason.clear();
    gDataPath.clear();
    gConn.reset();
    gPatchError = 0;
    gStartAnswer = 0;
    modERR::gErrAnswer = 0;
    g_window.reset();
}

void Main()
{
    try {
        gPatchName = QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update");
        gPatchTitle = QStringLiteral("OLBRA Patch NH 0108");
        gPatchReason = QStringLiteral("The patch will modify percentages for N. gonorrhoeae in the Belvix NH System ");
        gPatchReason += QStringLiteral("to better support identification of PRO-negative strains. ") + QStringLiteral("\r\n");

        window().Show();
        ReadDataPath();
        if (!OpenDataFile()) {
            platform().endProgram();
            return;
        }
        window().setCheck1Value(0, 1);
        ShowStatus(QStringLiteral("Click Apply to apply the patch."));
    } catch (const Failure &error) {
        ReportError(error, QStringLiteral("Main Start Up"));
    }
}

void ReadDataPath()
{
    gDataPath = olbra::GetSetting(QStringLiteral("OLBRA"), QStringLiteral("ZRVData"), QStringLiteral("DataPath"));
}

QString VersionText()
{
    const olbra::ProgramVersion version = olbra::programVersion();
    return QStringLiteral("Ver: %1.%2.%3 ").arg(version.major).arg(version.minor).arg(version.revision);
}

bool OpenDataFile()
{
    bool result = false;
    try {
        if (gConn.isNone())
            gConn = platform().createDataConnection();
        gConn->setDataFile(platform().programFolder() + QLatin1Char('/') + olbra::DataConnection::fileName());
        gConn->OpenConnection();
        if (!gConn->IsConnected()) {
            gConn->setDataFile(gDataPath);
            gConn->OpenConnection();
        }
        if (gConn->IsConnected()) {
            result = true;
            window().setStatusPanelText(2, VersionText());
            return result;
        }
        olbra::MsgBox(BoxKind::Notice,
                      QStringLiteral("OLBRA Patch failed to locate the OLBRAData.mdb data file... the patch cannot update OLBRA.")
                          + QStringLiteral("\r\n")
                          + QStringLiteral("Please be sure that OLBRA is installed on this computer and the patch EXE is copied to ")
                          + QStringLiteral("the folder that contains the OLBRA.EXE file. If you continue to experience problems, contact Corvane Technical Service."));
        return result;
    } catch (const Failure &error) {
        ReportError(error, QStringLiteral("Initization Connection to DataFile"));
        return result;
    }
}

void ShowStatus(const QString &text) { window().setStatusPanelText(1, text); }

void SetProgress(const std::int16_t &value)
{
    // A fixed count, not a timed wait; volatile keeps the compiler from dropping it.
    volatile std::int16_t counter = 1;
    while (counter <= 20000)
        counter = static_cast<std::int16_t>(counter + 1);
    window().setProgressBarValue(static_cast<float>(value));
}

void CloseRecordset(Ref<Recordset> &recordset)
{
    if (!recordset.isNone() && recordset->State() == Recordset::Open)
        recordset->Close();
    recordset.reset();
}

bool PatchDatabase()
{
    SetProgress(10);
    Ref<Recordset> recordset;
    try {
        recordset = gConn->GetRecordset(QStringLiteral("Select * from NHBASE where ID = 1"));
        recordset->Fields().Item("PRO").setValue(Variant::ofInteger(98));
        recordset->Fields().Item("RES").setValue(Variant::ofInteger(4));
        // Not yet saved: the frequency counts the two new percentages.
        double frequency = ComputeMlf(*recordset);
        frequency = RoundMlf(frequency);
        recordset->Fields().Item("MLF").setValue(Variant::ofDouble(frequency));
        recordset->Update();
        CloseRecordset(recordset);
        SetProgress(50);

        recordset = gConn->GetRecordset(QStringLiteral("Select * from Panels where panelcode='NH'"));
        recordset->Fields().Item("lastupdated").setValue(Variant::ofText(QStringLiteral("01/18/2008")));
        recordset->Fields().Item("DBVersion").setValue(Variant::ofText(QStringLiteral("2.08")));
        recordset->Update();
        CloseRecordset(recordset);
        return true;
    } catch (const Failure &error) {
        ReportError(error, QStringLiteral("Patch Failed to update OLBRA Belvix NH Database"));
        // The recordset is dropped unclosed: nothing unsaved is written.
        return false;
    }
}

QString HistoryKey()
{
    // Characters, not UTF-16 units: a character outside the basic plane is never cut in half.
    qsizetype end = 0;
    for (int characters = 0; characters < 50 && end < gPatchName.size(); ++characters)
        end += (gPatchName[end].isHighSurrogate() && end + 1 < gPatchName.size()) ? 2 : 1;
    return gPatchName.left(end);
}

void WriteUpdateHistory()
{
    Ref<Recordset> recordset;
    try {
        recordset = gConn->GetRecordset(QStringLiteral("Select * from updates"));
        ShowStatus(QStringLiteral("Getting Update information...."));
        const bool bof = recordset->isBOF();
        const bool eof = recordset->isEOF();
        bool addRow = bof && eof;
        if (!addRow) {
            recordset->MoveLast();
            const Variant reason = recordset->Fields().Item("Reason").Value();
            // A last row without a reason is not this patch's entry.
            addRow = reason.kind() != olbra::Kind::Text || reason.toText() != HistoryKey();
        }
        if (addRow) {
            const olbra::ProgramVersion version = olbra::programVersion();
            recordset->AddNew();
            recordset->Fields().Item("Date").setValue(Variant::ofDate(platform().currentDate()));
            recordset->Fields().Item("Minor").setValue(Variant::ofInteger(static_cast<std::int16_t>(version.minor)));
            recordset->Fields().Item("Build").setValue(Variant::ofInteger(static_cast<std::int16_t>(version.revision)));
            recordset->Fields().Item("Reason").setValue(Variant::ofText(HistoryKey()));
            recordset->Update();
        }
        CloseRecordset(recordset);
    } catch (const Failure &error) {
        ReportError(error, QStringLiteral("Write to Update"));
    }
}

void FinishPatch()
{
    try {
        gConn->CloseConnection();
        gConn.reset();
    } catch (const Failure &error) {
        gConn.reset();
        ReportError(error, QStringLiteral("Close Connection to DataFile"));
    }
    PatchWindow &form = window();
    if (gPatchError == -1) {
        ShowStatus(QStringLiteral("Error in Olbra Patch"));
        form.setReasonCaption(form.reasonCaption() + QStringLiteral("\r\n") + QStringLiteral("Patch was not applied."));
    } else {
        form.setCheck1Value(1, 1);
        form.setReasonCaption(form.reasonCaption() + QStringLiteral("\r\n") + QStringLiteral("Patch successfully applied."));
        ShowStatus(QStringLiteral("Done!"));
    }
}

} // namespace modPatch
