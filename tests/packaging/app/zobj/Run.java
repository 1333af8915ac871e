package zobj;

// The application the vendor-kit tests publish: it says where it was started from and which
// Java runtime runs it, so that a test sees the packaged runtime at work.
public class Run {
    public static void runWithPath(String path) {
        System.out.println("packaged application: " + path);
        System.out.println("java.home: " + System.getProperty("java.home"));
    }
}
