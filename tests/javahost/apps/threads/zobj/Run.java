package zobj;

import java.nio.file.Files;
import java.nio.file.Paths;

// Returns at once, leaving a non-daemon thread that works on for a while (the process
// must wait for it) and a daemon thread that never ends (the process must not).
public class Run {
    public static void runWithPath(String path) throws Exception {
        Thread daemon = new Thread(() -> {
            while (true) {
                try {
                    Thread.sleep(5);
                } catch (InterruptedException e) {
                    return;
                }
            }
        });
        daemon.setDaemon(true);
        daemon.start();
        Thread worker = new Thread(() -> {
            try {
                Thread.sleep(1000);
                Files.write(Paths.get("thread-done.txt"), "done".getBytes());
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        });
        worker.start();
        Files.write(Paths.get("entry-returned.txt"), "returned".getBytes());
    }
}
