package zobj;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.time.Instant;

// The test application's entry: tells the test what the launcher handed over, in
// "entry.txt" in the current folder (the working folder), one item a line.
public class Run {
    public static void runWithPath(String path) throws IOException {
        Instant entered = Instant.now();
        String helper;
        try {
            helper = (String) Class.forName("zlib.Helper").getMethod("text").invoke(null);
        } catch (ReflectiveOperationException e) {
            helper = "missing";
        }
        // A file of the user's beside the application, found through the class path.
        String resource;
        try (InputStream in = Run.class.getResourceAsStream("/settings.txt")) {
            resource = in == null ? "missing" : new String(in.readAllBytes(), StandardCharsets.UTF_8);
        }
        String text = "path=" + path + "\n"
                + "entered=" + (entered.getEpochSecond() * 1_000_000_000L + entered.getNano()) + "\n"
                + "classpath=" + System.getProperty("java.class.path") + "\n"
                + "vminfo=" + System.getProperty("java.vm.info") + "\n"
                + "maxmemory=" + Runtime.getRuntime().maxMemory() + "\n"
                + "helper=" + helper + "\n"
                + "resource=" + resource + "\n";
        Files.write(Paths.get("entry.txt"), text.getBytes(StandardCharsets.UTF_8));
    }

    // The same entry started by the java command, for comparing start-up times.
    public static void main(String[] args) throws IOException {
        runWithPath(args.length > 0 ? args[0] : "");
    }
}
