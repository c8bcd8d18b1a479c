#pragma once
// The "dpapi:" envelope that protects every secret the programs keep in
// files: "dpapi:" + Base64 of a machine-bound protected blob.
#include "platform/machine_protect.h"

#include <string>

namespace calvora {

// Empty for an empty Plain. Throws EAppError "Gizli bilgi sifrelenemedi: "
// + the system's reason when the machine refuses to protect.
std::string ProtectSecret(const std::string& Plain);
// Never throws. Empty text and text without the prefix (plain legacy values)
// succeed unchanged; malformed, damaged or foreign envelopes fail with an
// empty Plain.
bool TryUnprotectSecret(const std::string& Text, std::string& Plain);
// Throws EAppError "Gizli bilgi okunamadi: Veri gecersiz" on failure.
std::string UnprotectSecret(const std::string& Text);
// Text begins with "dpapi:" (case-sensitive).
bool IsProtectedSecret(const std::string& Text);

// Machine-scope protection without the prefix, for files that hold a raw
// Base64 blob (service token, saved sign-in).
bool ProtectMachineScope(const std::string& plain, const std::string& description,
                         std::string& base64, std::string& error);
bool UnprotectMachineScope(const std::string& base64, const std::string& description,
                           std::string& plain);

// Why the machine key cannot be used right now (missing, unreadable, wrong
// size); empty when it is usable. An envelope that does not open while the
// key is at fault says nothing about the envelope.
std::string MachineKeyFault();

// Folders whose protected files only the current machine key opens (the
// data directory). While one of them holds such a file (a "dpapi:" value in
// config.ini, the plan, activity and token files, the saved sign-in), a
// missing key is a protection failure, never a reason to make a new one.
void RegisterProtectedDataDir(const std::string& dir);
// The first protected file of a registered folder; empty when there is none.
std::string FindProtectedDataFile();
// The protector every protected file goes through: the machine key, made
// only while FindProtectedDataFile finds nothing.
platform::MachineKeyProtector MachineProtector();

// A file whose whole content is one envelope (plan and activity stores),
// written as UTF-8 with a byte-order mark.
// Reading: false when there is no file. A plain file of an older version is
// rewritten protected at once (its plain text is returned). A file whose
// envelope does not open is moved aside to <path>.corrupt (replacing an
// older one) and reads as missing. Throws EAppError on read and write
// errors, and when the machine key is at fault, missing included (the file
// then stays as it is).
bool ReadProtectedTextFile(const std::string& path, std::string& plain);
// Replaces the file atomically with the envelope of `plain`.
void WriteProtectedTextFile(const std::string& path, const std::string& plain);

}  // namespace calvora
