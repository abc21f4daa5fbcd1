#pragma once

#include "DataConnection.h"
#include "PatchWindow.h"
#include "Recordset.h"
#include "modERR.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace modPatch {

// The patch state: one per run, empty, none or 0 when the program starts.
extern QString gPatchName;
extern QString gPatchTitle;
extern QString gPatchReason;
extern QString gDataPath;
extern olbra::Ref<olbra::DataConnection> gConn;
extern std::int16_t gStartAnswer;
// gPatchError: see modERR.h.

/// How the one patch window comes to be: set once by the program before Main.
void setWindowFactory(std::function<std::unique_ptr<PatchWindow>()> factory);
/// The one patch window; the first use creates it.
PatchWindow &window();
/// True while a window exists and is loaded.
bool windowIsLoaded();
/// Puts the patch state back as it is when the program starts, the window released.
void ResetPatchState();

void Main();
void ReadDataPath();
bool OpenDataFile();
/// "Ver: 1.0.76 ": the build's version, as the status bar shows it.
QString VersionText();

void ShowStatus(const QString &text);
void SetProgress(const std::int16_t &value);

/// The frequency of the most likely reaction pattern of the current row: fields 2 to 13.
double ComputeMlf(olbra::Recordset &recordset);
/// The text that "0.######" gives: 15 significant digits, cut after the sixth decimal, half up.
QString FormatMlf(double value);
/// The frequency rounded to six decimals through its text.
double RoundMlf(double value);

/// Patches the organism record and stamps the NH panel. True when it finished without reporting
/// a failure.
bool PatchDatabase();
/// The history key: the first 50 characters of gPatchName.
QString HistoryKey();
void WriteUpdateHistory();
void FinishPatch();

/// Closes the recordset when it is open, then releases it.
void CloseRecordset(olbra::Ref<olbra::Recordset> &recordset);

} // namespace modPatch
