#pragma once

// Every key the program writes to its settings store and to preset files,
// each spelt once. The spelling is part of the files operators keep: never
// change it.
namespace settingskeys {

// The window's settings (the platform's settings store).
constexpr char kBoxAddress[] = "CALBOX_IP";
constexpr char kLastUnit[] = "LAST_UNIT";
constexpr char kLastManualT[] = "LAST_MANUAL_T";
constexpr char kLastPMin[] = "LAST_P_MIN";
constexpr char kLastPMax[] = "LAST_P_MAX";
constexpr char kLastPDelta[] = "LAST_P_DELTA";
constexpr char kLastTMin[] = "LAST_T_MIN";
constexpr char kLastTMax[] = "LAST_T_MAX";
constexpr char kLastTDelta[] = "LAST_T_DELTA";
constexpr char kLastPresetPath[] = "LAST_PRESET_PATH";
constexpr char kLiveViewGeometry[] = "LIVE_VIEW_GEOMETRY";
constexpr char kInstrumentTable[] = "INSTRUMENT_TABLE";
constexpr char kLastRunReport[] = "LAST_RUN_REPORT";

} // namespace settingskeys

// Preset files (INI): groups, and the keys within them.
namespace presetkeys {

constexpr char kMainGroup[] = "Main";
constexpr char kUnits[] = "UNITS";
constexpr char kWaitBeforePulse[] = "WAIT_BEFORE_PULSE";
constexpr char kWaitExtraBeforeZero[] = "WAIT_EXTRA_BEFORE_ZERO";
constexpr char kWaitCameraFeedback[] = "WAIT_CAMERA_FEEDBACK";
constexpr char kDelayBetweenPulses[] = "DELAY_BETWEEN_PULSES";
constexpr char kPulseWidth[] = "PULSE_WIDTH";

constexpr char kManualGroup[] = "Manual";
constexpr char kManualT[] = "MANUAL_T";
constexpr char kManualP[] = "MANUAL_P";

constexpr char kAutoGroup[] = "Auto";
constexpr char kAutoPOn[] = "AUTO_P_ON";
constexpr char kAutoPFrom[] = "AUTO_P_FROM";
constexpr char kAutoPTo[] = "AUTO_P_TO";
constexpr char kAutoPDelta[] = "AUTO_P_DELTA";
constexpr char kAutoTOn[] = "AUTO_T_ON";
constexpr char kAutoTFrom[] = "AUTO_T_FROM";
constexpr char kAutoTTo[] = "AUTO_T_TO";
constexpr char kAutoTDelta[] = "AUTO_T_DELTA";
constexpr char kAddRefP[] = "ADD_REFP";

} // namespace presetkeys
