package other;

// An archive with an entry class, but not zobj.Run.
public class Run {
    public static void runWithPath(String path) {}
}
