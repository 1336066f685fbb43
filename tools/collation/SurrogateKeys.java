// Writes an Access 2007 or 2010 file whose indexed text column holds characters outside the
// Basic Multilingual Plane, with the Jackcess library that jetpeer ships, so that their stored
// keys can be read back: every high surrogate (before U+DC00) and every low surrogate (after
// U+D800), each pair between "a" and "b", then "a", "b" and words mixing such characters with others.
//
//   java -cp JETPEER/jackcess.jar:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar \
//       tools/collation/SurrogateKeys.java OUT.accdb 2007|2010

import com.healthmarketscience.jackcess.ColumnBuilder;
import com.healthmarketscience.jackcess.DataType;
import com.healthmarketscience.jackcess.Database;
import com.healthmarketscience.jackcess.DatabaseBuilder;
import com.healthmarketscience.jackcess.IndexBuilder;
import com.healthmarketscience.jackcess.Table;
import com.healthmarketscience.jackcess.TableBuilder;
import java.io.File;
import java.util.ArrayList;
import java.util.List;

public class SurrogateKeys {
  public static void main(String[] args) throws Exception {
    if (args.length != 2 || new File(args[0]).exists()) {
      System.err.println("usage: SurrogateKeys NEW.accdb 2007|2010");
      System.exit(2);
    }
    Database.FileFormat format =
        args[1].equals("2010") ? Database.FileFormat.V2010 : Database.FileFormat.V2007;
    List<String> texts = new ArrayList<>();
    for (char h = 0xD800; h <= 0xDBFF; h++) texts.add("a" + h + '\uDC00' + "b");
    for (char l = 0xDC00; l <= 0xDFFF; l++) texts.add("a" + '\uD800' + l + "b");
    String[] words = {"a", "b", "\uD83D\uDE00", "x\uD83D\uDE00", "\uD83D\uDE00\uD83D\uDE00", "caf\u00E9 \uD83C\uDF75",
                      "\uD840\uDC00\u4E00", "\u4E00\uD840\uDC00", "\uD83D\uDC4D\uD83C\uDFFD",
                      "A\uD835\uDC00Z", "a\uD835\uDC00z", "\uDBFF\uDFFD", "\uD800\uDC00 ", "-\uD83D\uDE00-",
                      "\uD83C\uDDE9\uD83C\uDDEA", "\u00C4\uD83D\uDE00\u00E4", "\uD83D\uDE00\u0301"};
    for (String w : words) texts.add(w);
    try (Database db = new DatabaseBuilder(new File(args[0])).setFileFormat(format).create()) {
      Table t = new TableBuilder("Wide")
          .addColumn(new ColumnBuilder("Id", DataType.LONG))
          .addColumn(new ColumnBuilder("T", DataType.TEXT).setLengthInUnits(255))
          .addIndex(new IndexBuilder("ById").addColumns("Id").setPrimaryKey())
          .addIndex(new IndexBuilder("ByText").addColumns("T"))
          .toTable(db);
      List<Object[]> rows = new ArrayList<>();
      int id = 0;
      for (String s : texts) rows.add(new Object[] {++id, s});
      t.addRows(rows);
    }
  }
}
