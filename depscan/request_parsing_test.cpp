#include <gtest/gtest.h>
#include <unistd.h>

#include "tracker_test_support.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// One parameter: name, type declaration, count, string value.
std::string Param(const std::string& name, const std::string& value) {
  return Quoted(name) + " \"string\" 1 " + Quoted(value) + " ";
}

std::string Attribute(const std::string& params) {
  return "SetAttribute \"node\" " + params + "\n";
}

std::string Evaluate(const std::string& params) { return "Evaluate " + params + "\n"; }

}  // namespace

using RequestParsingTest = TrackerTest;

TEST_F(RequestParsingTest, ParameterNamesDecideTheTable) {
  WriteFile("sh/plastic.oso", "");
  WriteTiff("tex/wood.tif");
  WriteTiff("tex/type.tif");
  WriteTiff("tex/file.tif");
  WriteTiff("proc.tif");
  auto tracker = Scan(Attribute(Param("shaderfilename", Path("sh/plastic")) +
                                Param("imagefilename", Path("out/beauty.exr")) +
                                Param("texturename", Path("tex/wood.tif")) +
                                Param("type", Path("tex/type.tif")) +
                                Param("filename", Path("tex/file.tif"))) +
                      // The Evaluate file name is a texture candidate too.
                      Evaluate(Param("type", "myprocedural") + Param("filename", Path("proc.tif"))));
  EXPECT_EQ((Paths{Path("sh/plastic.oso")}), Entries(*tracker, DependencyKind::Shader));
  EXPECT_EQ((Paths{Path("out/beauty.exr")}), Entries(*tracker, DependencyKind::Output));
  EXPECT_EQ((Paths{Path("proc.tif"), Path("tex/file.tif"), Path("tex/type.tif"),
                   Path("tex/wood.tif")}),
            Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("proc.tif")}), Entries(*tracker, DependencyKind::Procedural));
  EXPECT_EQ(Path("proc.tif"), Resolved(*tracker, Path("proc.tif")));
  for (DependencyKind kind : {DependencyKind::Stream, DependencyKind::MissingShader,
                              DependencyKind::MissingTexture, DependencyKind::MissingStream,
                              DependencyKind::MissingProcedural}) {
    EXPECT_EQ(Paths{}, Entries(*tracker, kind)) << "kind " << kind;
  }
}

TEST_F(RequestParsingTest, SetAttributeAtTimeSkipsItsTime) {
  auto tracker = Scan("SetAttributeAtTime \"node\" 0.5 " + Param("texturename", Path("a.tif")) +
                      "\nSetAttributeAtTime \"node\" [1 2] " + Param("texturename", Path("b.tif")));
  // "[1 2]" as a time: "[" is the time, "1" the list's end.
  EXPECT_EQ((Paths{Path("a.tif")}), Entries(*tracker, DependencyKind::MissingTexture));
}

TEST_F(RequestParsingTest, ArraysClassifyEveryStringAndTheLastFileNameAndTypeWin) {
  auto tracker = Scan(
      Attribute("\"texturename\" \"string\" 3 [\"" + Path("a.tif") + "\" 7 \"" + Path("b.tif") +
                "\" \"" + Path("c.tif") + "\"]") +
      Evaluate("\"filename\" \"string\" 2 [\"" + Path("first") + "\" \"" + Path("second") +
               "\"] \"type\" \"string\" 2 [\"vrxstream\" \"plugin\"]"));
  EXPECT_EQ((Paths{Path("a.tif"), Path("b.tif"), Path("c.tif")}),
            Entries(*tracker, DependencyKind::MissingTexture));
  EXPECT_EQ((Paths{Path("second")}), Entries(*tracker, DependencyKind::MissingProcedural));
  EXPECT_EQ(Paths{}, Entries(*tracker, DependencyKind::MissingStream));
}

TEST_F(RequestParsingTest, ARequestWithABadHandleIsDroppedWithTheKeywordItConsumed) {
  auto tracker = Scan("SetAttribute SetAttribute \"node\" " + Param("texturename", Path("lost.tif")) +
                      "\n" + "SetAttributeAtTime Evaluate " + Param("type", "vrxstream") +
                      Param("filename", Path("lost.rib")) +
                      "\n" + Attribute(Param("texturename", Path("kept.tif"))));
  EXPECT_EQ((Paths{Path("kept.tif")}), Entries(*tracker, DependencyKind::MissingTexture));
  EXPECT_EQ(Paths{}, Entries(*tracker, DependencyKind::MissingStream));
}

TEST_F(RequestParsingTest, ANumericTypeDeclarationDropsTheRestOfTheRequest) {
  auto tracker = Scan(Attribute(Param("a", Path("1.tif")) + Param("b", Path("2.tif")) +
                                "\"c\" 5 1 \"" + Path("3.tif") + "\" " + Param("d", Path("4.tif"))) +
                      Attribute(Param("e", Path("5.tif"))));
  EXPECT_EQ((Paths{Path("1.tif"), Path("2.tif"), Path("5.tif")}),
            Entries(*tracker, DependencyKind::MissingTexture));
}

TEST_F(RequestParsingTest, AnAbandonedEvaluateKeepsItsTexturesOnly) {
  auto tracker = Scan(Evaluate(Param("type", "vrxstream") + Param("filename", Path("gone.rib")) +
                               Param("map", Path("m.tif")) + "\"bad\" 1 1 \"x\""));
  EXPECT_EQ((Paths{Path("m.tif")}), Entries(*tracker, DependencyKind::MissingTexture));
  EXPECT_EQ(Paths{}, Entries(*tracker, DependencyKind::MissingStream));
}

TEST_F(RequestParsingTest, TypeIsComparedExactly) {
  auto tracker = Scan(Evaluate(Param("type", "VrxStream") + Param("filename", Path("a.rib"))) +
                      Evaluate(Param("filename", Path("b.rib")) + Param("type", "vrxstream")) +
                      // Without a type, the file name is only a texture candidate.
                      Evaluate(Param("filename", Path("c.rib"))));
  EXPECT_EQ((Paths{Path("a.rib")}), Entries(*tracker, DependencyKind::MissingProcedural));
  EXPECT_EQ((Paths{Path("b.rib")}), Entries(*tracker, DependencyKind::MissingStream));
}

TEST_F(RequestParsingTest, AnEvaluateWithoutFileNameRecordsNothing) {
  auto tracker = Scan(Evaluate(Param("type", "vrxstream")) +
                      Evaluate(Param("type", "vrxstream") + Param("filename", Path("gone.rib"))) +
                      Evaluate(Param("type", "plugin")) +
                      Evaluate(Param("type", "plugin") + Param("filename", Path("gone_proc"))) +
                      Evaluate("\"type\" \"string\" 1 \"plugin\" \"filename\" \"string\" 0 []"));
  EXPECT_EQ((Paths{Path("gone.rib")}), Entries(*tracker, DependencyKind::MissingStream));
  EXPECT_EQ((Paths{Path("gone_proc")}), Entries(*tracker, DependencyKind::MissingProcedural));
}

TEST_F(RequestParsingTest, OtherRequestsAndNumbersAreNotClassified) {
  auto tracker = Scan("Surface \"plastic\" \"texturename\" \"" + Path("s.tif") + "\"\n" +
                      "MakeTexture \"" + Path("t.tif") + "\"\n" +
                      Attribute("\"values\" \"float\" 3 [1 2.5 3] \"n\" \"int\" 1 4"));
  for (DependencyKind kind : {DependencyKind::Texture, DependencyKind::MissingTexture,
                              DependencyKind::Output, DependencyKind::MissingShader}) {
    EXPECT_EQ(Paths{}, Entries(*tracker, kind)) << "kind " << kind;
  }
}

TEST_F(RequestParsingTest, FileNamesAreExpanded) {
  WriteTiff("vars/wood.tif");
  WriteTiff("env/stone.tif");
  WriteTiff("cwd/rel.tif");
  ZpScopedEnv pathVariable("VRX_PATH_TRACKERTEST", Path("vars").c_str());
  ZpScopedEnv variable("TRACKER_TEST_DIR", Path("env").c_str());
  ZpChangeDirectory workingDirectory(Path("cwd"));
  // Relative names are taken against the working directory as the system reports it.
  std::string relative = dir.Resolved() + "/cwd/rel.tif";
  auto tracker = Scan(Attribute(Param("a", "${VRX_PATH_TRACKERTEST}/wood.tif") +
                                Param("b", "${TRACKER_TEST_DIR}/stone.tif") +
                                Param("c", "rel.tif")));
  EXPECT_EQ((Paths{relative, Path("env/stone.tif"), Path("vars/wood.tif")}),
            Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ(Path("vars/wood.tif"), Resolved(*tracker, Path("vars/wood.tif")));
}

// One file, one name: every spelling is recorded in its lexically normal
// form, and only a ".." after a linked folder is kept (it leads elsewhere).
TEST_F(RequestParsingTest, FileNamesAreRecordedInTheirNormalForm) {
  WriteTiff("shot/tex/a.tif");
  WriteTiff("deep/x.tif");
  WriteTiff("shot/seq/x.tif");
  MakeDirectory("deep/nest");
  MakeDirectory("shot/seq");
  ASSERT_EQ(symlink(Path("deep/nest").c_str(), Path("shot/link").c_str()), 0);
  ZpChangeDirectory workingDirectory(Path("shot"));
  std::string shot = dir.Resolved() + "/shot";
  std::string text = Attribute(Param("a", "${RIBDIR}/tex/a.tif") + Param("b", "tex//a.tif") +
                               Param("c", "./seq/../tex/./a.tif") +
                               Param("d", shot + "/tex/a.tif") + Param("e", "${RIBDIR}/link/../x.tif") +
                               Param("f", "${RIBDIR}/seq/./x.tif/") +
                               Param("g", "${RIBDIR}/seq//missing.tif"));
  // Named bare, as from its own folder: "${RIBDIR}" is ".".
  WriteFile("shot/main.rib", text);
  DependencyTracker tracker(new RibFromFile("main.rib"), "main.rib", kAllKinds);
  tracker.Scan();
  EXPECT_EQ((Paths{shot + "/link/../x.tif", shot + "/tex/a.tif"}),
            Entries(tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{shot + "/seq/missing.tif"}), Entries(tracker, DependencyKind::MissingTexture));
  EXPECT_EQ(shot + "/tex/a.tif", Resolved(tracker, shot + "/tex/a.tif"));
}

TEST_F(RequestParsingTest, OperationsOutsideTheLoopReadTheirOwnForms) {
  WriteFile("plain.png", "not a tiff");
  WriteFile("ops.rib", "\"" + Path("plain.png") + "\" \"" + Path("noext") + "\" 1 " +
                           "\"a\" \"" + Path("a.tif") + "\" \"b\" [\"" + Path("b.tif") + "\" 2 \"" +
                           Path("c.tif") + "\"] \"c\" 3 \"d\" \"" + Path("noext2") + "\" 9 " +
                           "[1 [2] \"z\" \"after\"");
  std::string path = Path("ops.rib");
  DependencyTracker tracker(new RibFromFile(path.c_str()), path.c_str(), kAllKinds);
  // Without the TIFF requirement, any existing file is a texture and any
  // missing one a missing texture.
  tracker.ReadImageArgument(true);
  tracker.ReadImageArgument(true);
  EXPECT_EQ((Paths{Path("plain.png")}), Entries(tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("noext")}), Entries(tracker, DependencyKind::MissingTexture));
  EXPECT_EQ(static_cast<uint32_t>(RibToken::Integer), tracker.PeekToken());
  EXPECT_EQ(static_cast<uint32_t>(RibToken::Integer), tracker.NextToken());
  // Name-value pairs without type and count, up to the first non-string.
  EXPECT_EQ(static_cast<uint32_t>(RibToken::Integer), tracker.ScanStringParameters());
  EXPECT_EQ((Paths{Path("a.tif"), Path("b.tif"), Path("c.tif"), Path("noext")}),
            Entries(tracker, DependencyKind::MissingTexture));
  tracker.SkipArrays(0);
  tracker.SkipArrays(2);  // 9, then [1 [2]
  EXPECT_EQ(static_cast<uint32_t>(RibToken::String), tracker.NextToken());
  EXPECT_EQ("after", tracker.ReadString());
  tracker.SkipArrays(3);  // stops at the end
  EXPECT_EQ(static_cast<uint32_t>(RibToken::End), tracker.NextToken());
}

namespace {

// A string-table definition of the binary encoding (id, 4-byte length) and a
// reference to it.
std::string DefineTableString(char id, const std::string& text) {
  std::string length;
  for (int shift = 24; shift >= 0; shift -= 8) length += char((text.size() >> shift) & 0xFF);
  return std::string("\315") + id + "\243" + length + text;
}
std::string TableReference(char id) { return std::string("\317") + id; }

}  // namespace

// A long table string brought back again and again is classified once per
// way it is used, and a redefined id is classified afresh.
TEST_F(RequestParsingTest, TableStringsAreClassifiedOncePerUse) {
  const std::string folder = "a_folder_name_long_enough_to_make_the_path_a_long_table_string/";
  WriteTiff(folder + "a.tif");
  const std::string found = Path(folder + "a.tif"), missing = Path(folder + "b.tif");
  std::string value = "\"string\" 1 " + TableReference('\0') + " ";
  std::string again = "SetAttribute \"n\" \"texturename\" " + value + "\n";
  auto tracker = Scan(DefineTableString('\0', found) + again + again +
                      "SetAttribute \"n\" \"shaderfilename\" " + value + "\n" +
                      "Evaluate \"type\" \"string\" 1 \"myproc\" \"filename\" " + value + "\n" +
                      "Evaluate \"type\" \"string\" 1 \"myproc\" \"filename\" " + value + "\n" +
                      "Evaluate \"type\" \"string\" 1 \"vrxstream\" \"filename\" " + value +
                      "\n" + DefineTableString('\0', missing) + again + again +
                      "Evaluate \"filename\" " + value + " \"type\" \"string\" 1 \"myproc\"\n");
  EXPECT_EQ(Paths{found}, Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ(Paths{found + ".oso"}, Entries(*tracker, DependencyKind::MissingShader));
  EXPECT_EQ(Paths{found}, Entries(*tracker, DependencyKind::Procedural));
  EXPECT_EQ(Paths{found}, Entries(*tracker, DependencyKind::Stream));
  EXPECT_EQ(Paths{missing}, Entries(*tracker, DependencyKind::MissingTexture));
  EXPECT_EQ(Paths{missing}, Entries(*tracker, DependencyKind::MissingProcedural));
}
