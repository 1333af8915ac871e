package zobj;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

// A class named like the application's entry, as a stale file or another program may leave
// one in the working folder: it must never run in the application's place.
public class Run {
    public static void runWithPath(String path) throws IOException {
        Files.write(Paths.get("entry.txt"), "shadowed=yes\n".getBytes(StandardCharsets.UTF_8));
    }
}
