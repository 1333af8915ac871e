package zobj;

// An application whose entry ends with an exception.
public class Run {
    public static void runWithPath(String path) {
        throw new IllegalStateException("thrown by the test application");
    }
}
