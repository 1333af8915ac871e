package zobj;

// zobj.Run without the entry the launcher calls: the names match but not the signature.
public class Run {
    public static void runWithPath(String[] paths) {}

    public void runWithPath(String path) {}
}
