package zobj.demo;

// Published as a runtime library: the launcher downloads it beside the application and puts
// it on the class path.
public class About {
    public static String text() {
        return "Runtime library loaded; Java " + System.getProperty("java.version");
    }
}
