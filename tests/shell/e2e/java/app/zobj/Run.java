package zobj;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

// The application the end-to-end runs publish: it records the path it was started with,
// and a text from the runtime library, in the working folder (its current directory).
public class Run {
    public static void runWithPath(String path) throws Exception {
        String text = path + "\n" + zobj.lib.Greeting.text() + "\n";
        Files.write(Paths.get("received-path.txt"), text.getBytes(StandardCharsets.UTF_8));
        System.out.println("runWithPath: " + path);
    }
}
