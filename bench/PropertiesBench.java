// java.util.Properties on the text of bench/properties_bench.cpp: 5,000
// lines loaded from memory, and scattered lookups. Run by hand:
//   java bench/PropertiesBench.java
import java.io.ByteArrayInputStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Properties;

public class PropertiesBench {
  public static void main(String[] args) throws Exception {
    final int lines = 5000;
    StringBuilder t = new StringBuilder();
    List<String> keys = new ArrayList<>();
    for (int i = 0; i < lines; ++i) {
      if (i % 50 == 0) t.append("# group ").append(i / 50).append('\n');
      String key = "group" + (i % 100) + ".message" + i;
      keys.add(key);
      t.append(key).append(" = The operation ").append(i).append(" could not be completed");
      t.append(i % 10 == 0 ? ": try again\\u00e9\n" : ".\n");
    }
    byte[] bytes = t.toString().getBytes("ISO-8859-1");
    List<String> scattered = new ArrayList<>();
    for (int i = 0, j = 0; i < keys.size(); ++i, j = (j + 389) % keys.size()) scattered.add(keys.get(j));

    Properties p = null;
    for (int round = 0; round < 2; ++round) {  // the first round warms up the JIT
      final int loads = 2000;
      long start = System.nanoTime();
      for (int n = 0; n < loads; ++n) {
        p = new Properties();
        p.load(new ByteArrayInputStream(bytes));
      }
      double load = (System.nanoTime() - start) / (double) loads;
      final int gets = 20_000_000;
      long sum = 0;
      start = System.nanoTime();
      for (int n = 0; n < gets; ++n) sum += p.getProperty(scattered.get(n % scattered.size())).length();
      double get = (System.nanoTime() - start) / (double) gets;
      if (round == 1) {
        System.out.printf("load %d lines: %.1f us (%.0f ns per line); getProperty: %.1f ns (%d)%n",
            lines, load / 1000, load / lines, get, sum);
      }
    }
  }
}
