// uninstall.exe's temporary copy, started with the probe standing in for the program: where it
// runs from, what it loads, and that nothing of it stays.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "robot/process_robot.h"
#include "support/test_support.h"
#include "uninstall/relaunch.h"

namespace {

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('\\'));
}

// A library planted in the temporary folder under the name the copy loads by name is not
// loaded: the copy runs from a fresh folder of its own, never from the temporary folder or with
// it as its working folder. Each copy gets a folder of its own, and its file goes as it ends
// (the probe does not leave its folder as uninstall.exe does: the folder is left empty).
TEST(TemporaryCopy, RunsFromAFreshFolderAndLoadsNothingPlanted) {
  char temp[MAX_PATH] = "", self[MAX_PATH] = "";
  GetTempPathA(MAX_PATH, temp);
  GetModuleFileNameA(NULL, self, MAX_PATH);
  const std::string probe = FolderOf(self) + "\\runonce.exe";
  const std::string planted = std::string(temp) + "kvs-probe-planted.dll";
  ASSERT_TRUE(CopyFileA((FolderOf(self) + "\\planted.dll").c_str(), planted.c_str(), FALSE));
  TempFolder logs("copy");
  const std::string log = logs / "probe.log";
  SetEnvironmentVariableA("KVS_PROBE_LOG", log.c_str());
  SetEnvironmentVariableA("KVS_PROBE_LOAD", "kvs-probe-planted.dll");
  std::string folders[2];
  for (std::string& folder : folders) {
    DeleteFileA(log.c_str());
    ASSERT_EQ(1, StartTemporaryCopy(probe.c_str()));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(log) && !ReadTextFile(log).empty(); }, 60000));
    std::string line = ReadTextFile(log);
    std::string program = line.substr(0, line.find('|'));
    EXPECT_EQ(std::string::npos, line.find("kvs-probe-planted")) << line; // no load recorded
    EXPECT_NE(std::string::npos, line.find("/remove ")) << line;
    folder = FolderOf(program);
    EXPECT_EQ(0u, folder.find(std::string(temp) + "kvs-uninstall-")) << program;
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(program); }, 60000)) << program;
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << EntryNames(folder);
  }
  EXPECT_NE(folders[0], folders[1]);
  SetEnvironmentVariableA("KVS_PROBE_LOG", NULL);
  SetEnvironmentVariableA("KVS_PROBE_LOAD", NULL);
  DeleteFileA(planted.c_str());
}

// The copy moves its file out of its folder through the handle that keeps it from being
// swapped, and the folder goes; the file still goes when that handle is closed.
TEST(TemporaryCopy, LeavingItsFolderRemovesItAndKeepsTheFileHeld) {
  TempFolder folder("copy-folder");
  const std::string path = folder / "kvs-uninstall-copy.exe";
  WriteTextFile(path, "program");
  HANDLE copy = CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, copy);
  EXPECT_EQ(1, LeaveCopyFolder(copy, path.c_str()));
  EXPECT_FALSE(FolderExists(folder.Path()));
  char temp[MAX_PATH] = "";
  GetTempPathA(MAX_PATH, temp);
  const std::string moved =
      std::string(temp) + "kvs-uninstall-" + std::to_string(GetCurrentProcessId()) + ".exe";
  EXPECT_TRUE(FileExists(moved));
  EXPECT_FALSE(DeleteFileA(moved.c_str())); // held without delete sharing
  CloseHandle(copy);
  EXPECT_FALSE(FileExists(moved));
}

} // namespace
