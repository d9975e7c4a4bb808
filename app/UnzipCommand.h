#pragma once
// The Unzip command without its window: every archive of a list is extracted
// into a folder of its own below the destination, each kind through its
// engine, and what went wrong is collected into one report.

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "Component.h"
#include "UserInterface.h"

struct TUnzipResult {
  // One line per problem, "<archive>: <what happened>": archives skipped or
  // damaged, members that failed, were skipped or were renamed to be safe.
  std::vector<std::string> Report;
  // The archive whose failure ended the walk (the archives after it were not
  // attempted); empty when the walk went through.
  std::string FailedArchive;
};

class TUnzipCommand {
 public:
  // Owner is the window the user interface is modal to (may be null); the 7z
  // and RAR components are created with Components as their owner.
  TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, TComponent* Components);

  // Extracts Archives in order below Destination. Archives of no known kind
  // are skipped and reported. A zip archive that cannot be read or written,
  // or an exception from a component (a missing 7-Zip engine), ends the walk;
  // failures a component reports do not.
  TUnzipResult Run(const std::vector<std::string>& Archives, const std::string& Destination);

  // The per-archive steps, given the archive's path.
  void ExtractZipArchive(const std::string& Archive);
  void ExtractRarArchive(const std::string& Archive);
  void Extract7zArchive(const std::string& Archive);

 private:
  void Report(const std::string& Archive, const std::string& Line);
  void ReportProblems(const std::string& Archive, const std::vector<std::string>& Problems);
  void ReportName(std::vector<std::string>& Problems, const std::string& Name, const std::string& ExtractedAs);
  // Creates a folder below the destination once per command.
  void MakeFolder(const std::string& Folder);

  HWND FOwner;
  IUserInterface& FUI;
  IProgressSink& FProgress;
  TComponent* FComponents;
  std::string FDestination;
  std::string FMember;  // the zip member being extracted, for the report
  std::set<std::string> FFolders;
  TUnzipResult FResult;
};
